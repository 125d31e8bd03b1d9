// The portable core against the tables beside this file. A row is the expected
// result, then one or more cases separated by blanks, written as tests/text.h tells.
//
//   core_test TABLE [STUB]           checks a table (the image table changes STUB)
//   core_test --seeds DIR [STUB]     writes every case, and STUB, as seeds for the fuzzer
//   core_test quoting                (Windows) quoting against the system's splitter
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "../text.h"
#include "install/layout_format.h"
#include "settings/settings_format.h"
#include "startup/command_line.h"
#include "update/journal_format.h"
#include "update/stub_image.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {
using namespace quillmere;

std::string stub;

// Printable: blanks and bytes outside ASCII as \xHH, wider characters as \uHHHH, and
// a character that stands more than 8 times in a row followed by \{N}.
std::string Show(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0, run; i < text.size(); i += run) {
    char hex[16];
    std::snprintf(hex, sizeof hex, text[i] > 0xFF ? "\\u%04X" : "\\x%02X", static_cast<unsigned>(text[i]));
    out += text[i] > 0x20 && text[i] < 0x7F ? std::string(1, static_cast<char>(text[i])) : hex;
    run = std::min(text.find_first_not_of(text[i], i), text.size()) - i;
    if (run > 8) out += "\\{" + std::to_string(run) + "}";
    else run = 1;
  }
  return out;
}

std::wstring Widen(const std::string& bytes) {
  return std::wstring(reinterpret_cast<const unsigned char*>(bytes.data()), reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size());
}

// Writes `value` into `size` bytes of `image` at `at`, little-endian.
void Put(std::string& image, std::size_t at, std::size_t size, long long value) {
  for (std::size_t k = 0; k < size; ++k) image[at + k] = static_cast<char>(value >> 8 * k);
}

// The stub with bytes overwritten ("AT:SIZE=VALUE", AT counted from the start, "pe+" from
// the PE header, "sec+" from the last section's entry, "cert+" from the certificate table),
// cut ("cut=N", or N bytes off the end when negative) or signed ("sign=N": a table of N
// bytes appended, its entry plausible), patch after patch, separated by commas.
std::string Patched(const std::string& patches) {
  auto u16 = [](std::size_t at) { return static_cast<std::size_t>(stub[at] & 0xFF | (stub[at + 1] & 0xFF) << 8); };
  std::size_t pe = u16(0x3C), sec = pe + 24 + u16(pe + 20) + 40 * (u16(pe + 6) - 1), at = 0, size = 0;
  std::size_t cert = 0;
  long long value = 0;
  std::string image = stub;
  std::istringstream list(patches);
  for (std::string patch; std::getline(list, patch, ',');) {
    long long n = std::stoll(patch.substr(patch.find('=') + 1));
    const char* numbers = patch.c_str() + patch.find_first_of("0123456789");
    if (patch.starts_with("cut=")) {
      image.resize(n < 0 ? image.size() + n : n);
    } else if (patch.starts_with("sign=")) {
      cert = image.size();
      image.resize(cert + n);
      Put(image, cert, 8, n | 0x0002020000000000);
      Put(image, pe + 168, 8, cert | n << 32);
    } else if (std::sscanf(numbers, "%zu:%zu=%lli", &at, &size, &value) == 3) {
      std::size_t base = patch[0] == 'p' ? pe : patch[0] == 's' ? sec : patch[0] == 'c' ? cert : 0;
      Put(image, base + at, size, value);
    }
  }
  return image;
}

std::string Check(const std::string& table, const std::string& input) {
  std::string out, image = table == "image" ? Patched(input) : "";
  if (table == "layout") return std::to_string(LayoutVersionFromText(input));
  if (table == "image") {
    std::string_view head = std::string_view(image).substr(0, kStubHeaderBytes);
    std::size_t signature = std::min<std::size_t>(CertificateTableOffset(head), image.size());
    std::string entry = image.substr(signature, kCertificateEntryBytes);
    return IsWholeX64GuiProgram(head, image.size(), entry) ? "yes" : "no";
  }
  if (table == "settings") {
    // Read in blocks of 1 to 24 bytes, as far as the reader would: the name must not change.
    out = Show(InstanceNameFromSettings(input));
    for (std::size_t block = 1, size = 0; block < 25; ++block, size = 0) {
      while (size < input.size() && !HoldsWholeServerLine(input.substr(0, size + block), size)) size += block;
      if (Show(InstanceNameFromSettings(input.substr(0, size + block))) != out) return out + ", but read by " + std::to_string(block);
    }
    return out;
  }
  for (const JournalEntry& entry : ParseUpdateJournal(input)) out += (out.empty() ? "" : ";") + Show(entry.stagedName + L"|" + entry.targetPath);
  return out.empty() ? "-" : out;
}

#ifdef _WIN32
// Every argument of up to six characters from a, blank, tab, quote and backslash,
// twice on one line, must come back from CommandLineToArgvW unchanged; and whether a
// line holds arguments must agree with it.
int CheckQuoting() {
  int failures = 0, count = 0;
  std::vector<std::wstring> arguments = {L""};
  for (std::size_t i = 0; arguments[i].size() < 6; ++i)
    for (wchar_t c : std::wstring(L"a \t\"\\")) arguments.push_back(arguments[i] + c);
  for (const std::wstring& argument : arguments) {
    wchar_t** split = CommandLineToArgvW((L"p " + QuoteArgument(argument) + L" " + QuoteArgument(argument)).c_str(), &count);
    bool quoted = count == 3 && argument == split[1] && argument == split[2];
    LocalFree(split), LocalFree(CommandLineToArgvW(argument.c_str(), &count));
    bool told = HasArgumentsAfterProgramName(argument) == (count > 1);
    if (!quoted || !told) std::printf("FAIL %s: %s\n", quoted ? "holds arguments" : "quoted", Show(argument).c_str()), ++failures;
  }
  return failures;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::string path = argc > 1 ? argv[1] : "", folder = __FILE__;
#ifdef _WIN32
  if (path == "quoting") return CheckQuoting() != 0;
#endif
  bool seeds = path == "--seeds";
  if (argc > 2 + seeds) stub.assign(std::istreambuf_iterator<char>(std::ifstream(argv[2 + seeds], std::ios::binary).rdbuf()), {});
  if (seeds) std::ofstream(std::string(argv[2]) + "/image", std::ios::binary) << 'i' << stub.substr(0, kStubHeaderBytes);
  int failures = 0, cases = 0;
  for (std::string table : seeds ? std::vector<std::string>{"settings", "layout", "journal"} : std::vector{path}) {
    std::ifstream in(seeds ? folder.substr(0, folder.find_last_of("/\\") + 1) + table + ".txt" : table);
    if (!in || (table.ends_with("image.txt") && stub.empty())) return std::printf("cannot read %s or the stub\n", table.c_str()), 2;
    table = table.substr(table.find_last_of("/\\") + 1), table = table.substr(0, table.find('.'));
    for (std::string line, want, input; std::getline(in, line);) {
      std::istringstream row(line);
      if (!(row >> want) || want[0] == '#') continue;
      for (bool any = false; (row >> input) || !any; any = true, input.clear()) {
        if (table != "image") input = Unescape(input);
        if (seeds) std::ofstream(std::string(argv[2]) + "/" + table + std::to_string(++cases), std::ios::binary) << table[0] << input;
        else if (std::string got = Check(table, input); got != want)
          std::printf("FAIL %s: %s\n  want %s\n  got  %s\n", table.c_str(), Show(Widen(input)).c_str(), want.c_str(), got.c_str()), ++failures;
      }
    }
  }
  return failures != 0;
}
