// What the portable core decides from bytes that others wrote, as text. The first byte
// names the reader (the initial of a table in this folder), the rest is its input. A result
// that begins with kBrokenRule, which holds a blank that Show never writes, breaks a rule
// that must hold for any input. Each reader costs at most linear time in its input, so
// that the fuzzer runs fast on inputs of any length.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "base/file_rules.h"
#include "handover/command_line.h"
#include "install/layout_format.h"
#include "settings/settings_format.h"
#include "update/journal_format.h"
#include "update/self_replace_rules.h"
#include "update/stub_image.h"

namespace quillmere {

inline constexpr char kBrokenRule[] = "broken rule: ";

// ASCII letters and signs as they are, any other character as \uHHHH.
inline std::string Show(std::wstring_view text) {
  std::string shown;
  for (wchar_t c : text) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
    if (c > 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      shown += escaped;
    }
  }
  return shown;
}

// The bytes of `input` that the reader takes in blocks of `block` bytes: it stops after
// the block that completes a server line.
inline std::string_view SettingsRead(std::string_view input, std::size_t block) {
  std::size_t read = 0;
  while (read < input.size()) {
    std::size_t lastBlock = read;
    read = std::min(read + block, input.size());
    if (HoldsWholeServerLine(input.substr(0, read), lastBlock)) break;
  }
  return input.substr(0, read);
}

// The instance name; reading stopped early in blocks of any size must not change it. Checked
// on a prefix: each block looks back to the start of its line, so the check costs the
// square of a line's length.
inline std::string DecideSettings(std::string_view input) {
  std::string_view prefix = input.substr(0, 64);
  for (std::size_t block = 1; block <= 24; ++block) {
    if (InstanceNameFromSettings(SettingsRead(prefix, block)) != InstanceNameFromSettings(prefix)) {
      return kBrokenRule + std::string("read in blocks of ") + std::to_string(block);
    }
  }
  return Show(InstanceNameFromSettings(input));
}

// The journal's entries, as staged|target joined by ";", or "-" for none.
inline std::string DecideJournal(std::string_view input) {
  std::string entries;
  for (const JournalEntry& entry : ParseUpdateJournal(input)) {
    if (!entries.empty()) entries += ";";
    entries += Show(entry.stagedName + L"|" + entry.targetPath);
  }
  return entries.empty() ? "-" : entries;
}

// One file's identity from "VOLUME:ID:SERIAL:INDEX" in hex, "-" for a question unanswered;
// the 128-bit id holds the 64-bit ID twice.
inline FileIdentity ReadIdentity(const std::string& text) {
  FileIdentity identity;
  unsigned long long volume = 0, id = 0, index = 0;
  unsigned serial = 0;
  identity.hasId = std::sscanf(text.c_str(), "%llx:%llx", &volume, &id) == 2;
  std::size_t first = text.find(':');
  std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  std::string rest = second == std::string::npos ? "" : text.substr(second + 1);
  identity.hasIndex = std::sscanf(rest.c_str(), "%x:%llx", &serial, &index) == 2;
  identity.idVolume = volume;
  std::memcpy(identity.id.data(), &id, 8);
  std::memcpy(identity.id.data() + 8, &id, 8);
  identity.indexVolume = serial;
  identity.index = index;
  return identity;
}

inline std::string Decide(std::string_view input) {
  if (input.empty()) return "";
  char reader = input[0];
  input.remove_prefix(1);
  if (reader == 's') return DecideSettings(input);
  if (reader == 'l') return std::to_string(LayoutVersionFromText(input));
  if (reader == 'j') return DecideJournal(input);
  if (reader == 'p') {
    std::wstring path(input.begin(), input.end());
    std::wstring_view rest = std::wstring_view(path).substr(std::min<std::size_t>(1, path.size()));
    if (path.starts_with(L'f')) return Show(FolderArgument(Path(rest)));
    if (path.starts_with(L'e')) return Show(ExtendedLengthPath(rest));
    if (path.starts_with(L'c')) return Show(ClassicPath(rest));
    if (path.starts_with(L's')) return Show(StubPathOf(rest));
    std::uint32_t id = 0;
    std::uint64_t startTime = 0;
    if (path.starts_with(L'k') && !ParseScratchName(rest, id, startTime)) return "no";
    if (path.starts_with(L'k')) return Show(HexName(id) + L":" + HexName(startTime));
    std::size_t bar = std::min(rest.find(L'|'), rest.size());
    bool left = IsStubLeftover(rest.substr(0, bar), rest.substr(std::min(bar + 1, rest.size())));
    return left ? "yes" : "no";
  }
  if (reader == 'e') {
    // "ERROR" or "ERROR/PROBE", the probe's answer on the file that the call replaced.
    constexpr const char* kFailures[] = {"passes", "refused", "never"};
    std::string text(input);
    std::size_t slash = std::min(text.find('/'), text.size());
    auto error = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    std::uint32_t probe = kNotProbed;
    if (slash < text.size()) {
      probe = static_cast<std::uint32_t>(std::strtoul(text.c_str() + slash + 1, nullptr, 10));
    }
    if (IsFileInUse(error, probe)) return "in-use";
    return kFailures[static_cast<int>(ClassifyFailure(error))];
  }
  if (reader == 'o') {
    std::size_t bar = std::min(input.find('|'), input.size());
    std::string a(input.substr(0, bar));
    std::string b(input.substr(std::min(bar + 1, input.size())));
    bool one = IsOneFile(ReadIdentity(a), ReadIdentity(b));
    return one ? "yes" : "no";
  }
  // The image: its size (8 bytes), the bytes at its certificate table (8), its head.
  if (input.size() < 16) return "no";
  std::uint64_t size = 0;
  for (int k = 7; k >= 0; --k) size = size << 8 | static_cast<unsigned char>(input[k]);
  bool whole = IsWholeX64GuiProgram(input.substr(16), size, input.substr(8, 8));
  return whole ? "yes" : "no";
}

}  // namespace quillmere
