// Arguments quoted for a child's command line must split back into the same
// arguments. The input is UTF-16 units; each NUL unit starts another argument.
// The splitter below follows the documented argument rules, not the stub's code;
// the tests that use the real CommandLineToArgvW under Wine check those rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "require.h"
#include "startup/command_line.h"

using namespace quillmere;

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program name runs to the first blank (it is never quoted here). Then blanks
// and tabs separate arguments; 2n backslashes and a quote give n backslashes and
// toggle quoting, 2n+1 give n and a literal quote; other backslashes are literal;
// "" inside quotes is a literal quote and quoting goes on.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
  std::size_t i = std::min(line.find_first_of(L" \t"), line.size());
  std::vector<std::wstring> arguments{std::wstring(line.substr(0, i))};
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) return arguments;
    std::wstring argument;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == L'\\') {
        std::size_t run = std::min(line.find_first_not_of(L'\\', i), line.size()) - i;
        i += run;
        bool beforeQuote = i < line.size() && line[i] == L'"';
        argument.append(beforeQuote ? run / 2 : run, L'\\');
        if (beforeQuote && run % 2 == 1) argument.push_back(line[i++]);
      } else if (line[i] == L'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          argument.push_back(L'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument.push_back(line[i++]);
      }
    }
    arguments.push_back(std::move(argument));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> expected{L"prog", L""};
  for (std::size_t k = 0; k + 1 < size; k += 2) {
    auto unit = static_cast<wchar_t>(data[k] | data[k + 1] << 8);
    if (unit == 0) {
      expected.emplace_back();
    } else {
      expected.back().push_back(unit);
    }
  }

  for (std::size_t k = 1; k < expected.size(); ++k) {
    const std::wstring& argument = expected[k];
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
      Require(QuoteArgument(argument) == argument, "a plain argument stays as it is");
    }
  }

  std::vector<const wchar_t*> arguments;
  for (std::size_t k = 1; k < expected.size(); ++k) arguments.push_back(expected[k].c_str());
  std::wstring line = L"prog";
  AppendQuotedArguments(line, arguments);
  Require(SplitCommandLine(line) == expected, "the command line splits back into the arguments");
  return 0;
}
