// One libFuzzer target over everything the stub decides from bytes that others wrote.
// The first byte picks the reader (the initials of the tables in tests/core, which
// seed it); the sanitizers watch every access, and what must hold for any input is
// checked.
#include <cstdint>
#include <string_view>

#include "install/layout_format.h"
#include "settings/settings_format.h"
#include "update/journal_format.h"
#include "update/stub_image.h"

using namespace quillmere;

#define REQUIRE(condition) \
  if (!(condition)) __builtin_trap()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0]) {
    case 's': {
      std::wstring_view name = InstanceNameFromSettings(input);
      REQUIRE(name == L"live" || name == L"dev");
      // Reading stops at the first whole server line: what follows cannot change the name.
      for (std::size_t end = 0; end < input.size(); ++end) {
        if (HoldsWholeServerLine(input.substr(0, end + 1), end)) {
          REQUIRE(InstanceNameFromSettings(input.substr(0, end + 1)) == name);
          break;
        }
      }
      break;
    }
    case 'l':
      LayoutVersionFromText(input);
      break;
    case 'j':
      for (const JournalEntry& entry : ParseUpdateJournal(input)) {
        REQUIRE(IsPlainRelativePath(entry.stagedName) && IsPlainRelativePath(entry.targetPath));
        REQUIRE(entry.targetPath.find(L'/') == std::wstring::npos);
      }
      break;
    case 'i':
      IsWholeX64GuiProgram(input.substr(0, kStubHeaderBytes), input.size());
      break;
  }
  return 0;
}
