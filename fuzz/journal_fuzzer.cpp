// Journal entries may only come, in order, from lines holding a "|", and none may
// reach outside the staging directory or the instance root; a line of plainly
// harmless names is never dropped. Fields are strict UTF-8, so each must encode
// back to exactly the bytes it was read from.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "require.h"
#include "update/journal_format.h"
#include "base/utf8.h"
#include "base/files.h"

using namespace quillmere;

namespace {

std::string EncodeUtf8(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(text[i]);
    Require(c <= 0xFFFF, "decoding gives UTF-16 units");
    if (c >= 0xD800 && c <= 0xDFFF) {
      bool paired = c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                    text[i + 1] <= 0xDFFF;
      Require(paired, "no lone surrogate is decoded");
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
    }
    auto put = [&](std::uint32_t byte) { out.push_back(static_cast<char>(byte)); };
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | c >> 6), put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | c >> 12), put(0x80 | (c >> 6 & 0x3F)), put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | c >> 18), put(0x80 | (c >> 12 & 0x3F));
      put(0x80 | (c >> 6 & 0x3F)), put(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Harmless by construction: every component is letters, digits, blanks, "_", "-"
// and ".", with a "_" before its first "." (so neither a device nor a step out).
bool IsPlainPath(std::string_view path) {
  constexpr std::string_view kPlain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-. /\\";
  if (path.empty() || path.find_first_not_of(kPlain) != std::string_view::npos) return false;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = std::min(path.find_first_of("/\\", start), path.size());
    std::string_view component = path.substr(start, end - start);
    if (component.substr(0, component.find('.')).find('_') == std::string_view::npos) return false;
    start = end + 1;
  }
  return true;
}

struct Candidate {
  std::string line;
  bool plain;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::wstring decoded;
  if (DecodeUtf8(bytes, decoded)) {
    Require(EncodeUtf8(decoded) == bytes, "accepted UTF-8 round-trips");
  }

  // Lines that may hold an entry, as the launcher wrote them, "/" in the target already turned.
  std::vector<Candidate> candidates;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = std::min(bytes.find('\n', start), bytes.size());
    std::string line(bytes.substr(start, end - start));
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    std::size_t bar = line.find('|');
    if (line.empty() || line[0] == '#' || bar == std::string::npos) continue;
    std::string_view fields(line);
    bool plain = IsPlainPath(fields.substr(0, bar)) && IsPlainPath(fields.substr(bar + 1));
    for (std::size_t k = bar; k < line.size(); ++k) {
      if (line[k] == '/') line[k] = '\\';
    }
    candidates.push_back({std::move(line), plain});
  }

  std::size_t next = 0;
  for (const JournalEntry& entry : ParseUpdateJournal(bytes)) {
    Require(IsContainedRelativePath(entry.stagedName), "the staged name stays inside");
    Require(IsContainedRelativePath(entry.targetPath), "the target path stays inside");
    Require(entry.targetPath.find(L'/') == std::wstring::npos, "no / in a target path");
    Require(entry.stagedName.find(L'|') == std::wstring::npos, "the split is at the first |");
    std::string written = EncodeUtf8(entry.stagedName) + "|" + EncodeUtf8(entry.targetPath);
    for (; next < candidates.size() && candidates[next].line != written; ++next) {
      Require(!candidates[next].plain, "a line of plain names gives an entry");
    }
    Require(next < candidates.size(), "each entry comes, in order, from its own line with a |");
    ++next;
  }
  for (; next < candidates.size(); ++next) {
    Require(!candidates[next].plain, "a line of plain names gives an entry");
  }
  return 0;
}
