// One libFuzzer target over everything the stub decides from bytes that others wrote.
// The first byte picks the reader (the initials of the tables in tests/core, which
// seed it); the sanitizers watch every access, and what must hold for any input is
// checked.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "install/layout_format.h"
#include "settings/settings_format.h"
#include "update/journal_format.h"
#include "update/stub_image.h"

using namespace quillmere;

#define REQUIRE(condition) if (!(condition)) __builtin_trap()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  char reader = input.empty() ? 0 : input[0];
  input.remove_prefix(reader ? 1 : 0);
  if (reader == 'l') LayoutVersionFromText(input);
  if (reader == 'i') {
    std::string_view head = input.substr(0, kStubHeaderBytes);
    std::size_t table = std::min<std::size_t>(CertificateTableOffset(head), input.size());
    IsWholeX64GuiProgram(head, input.size(), input.substr(table));
  }
  if (reader == 'j')
    for (const JournalEntry& entry : ParseUpdateJournal(input))
      REQUIRE(IsPlainRelativePath(entry.stagedName) && IsPlainRelativePath(entry.targetPath) && entry.targetPath.find(L'/') == std::wstring::npos);
  if (reader != 's') return 0;
  std::wstring_view name = InstanceNameFromSettings(input);
  REQUIRE(name == L"live" || name == L"dev");
  // Reading stops at the first whole server line: what follows cannot change the name.
  std::size_t end = 0;
  while (end < input.size() && !HoldsWholeServerLine(input.substr(0, end + 1), end)) ++end;
  REQUIRE(end == input.size() || InstanceNameFromSettings(input.substr(0, end + 1)) == name);
  return 0;
}
