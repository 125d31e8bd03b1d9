// The stub header check against its own description, read byte by byte: "MZ", a
// PE header where e_lfanew points, the PE32+ magic 24 bytes into it. More bytes
// after a good header never spoil it; fewer than it needs (64 at least) always do.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "require.h"
#include "update/stub_image.h"

using namespace quillmere;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view header(reinterpret_cast<const char*>(data), size);
  bool looksRight = LooksLikeWindowsX64Program(header);

  bool expected = false;
  std::uint64_t pe = 0;
  if (size >= 64 && data[0] == 'M' && data[1] == 'Z') {
    for (std::size_t k = 64; k-- > 60;) pe = pe << 8 | data[k];
    expected = pe + 26 <= size && data[pe] == 'P' && data[pe + 1] == 'E' && data[pe + 2] == 0 &&
               data[pe + 3] == 0 && data[pe + 24] == 0x0B && data[pe + 25] == 0x02;
  }
  Require(looksRight == expected, "the check matches the reference");
  if (!looksRight) return 0;

  std::string longer = std::string(header) + std::string(64, '\xFF');
  Require(LooksLikeWindowsX64Program(longer), "more bytes keep it good");
  std::size_t needed = std::max<std::size_t>(64, static_cast<std::size_t>(pe) + 26);
  Require(LooksLikeWindowsX64Program(header.substr(0, needed)), "the first bytes suffice");
  Require(!LooksLikeWindowsX64Program(header.substr(0, needed - 1)), "a cut magic fails");
  return 0;
}
