// The layout version against a second reading of the same rule: white space, then
// digits taken modulo 2^32; anything else first means layout 1.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "install/layout_format.h"
#include "require.h"

using namespace quillmere;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::int32_t version = LayoutVersionFromText(bytes);

  std::uint32_t expected = 1;
  std::size_t first = bytes.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && bytes[first] >= '0' && bytes[first] <= '9') {
    std::string_view digits = bytes.substr(first);
    digits = digits.substr(0, digits.find_first_not_of("0123456789"));
    // Summed from the last digit up, so no step shares the reader's arithmetic.
    expected = 0;
    std::uint32_t power = 1;
    for (std::size_t k = digits.size(); k-- > 0; power *= 10u) {
      expected += static_cast<std::uint32_t>(digits[k] - '0') * power;
    }
  }
  Require(static_cast<std::uint32_t>(version) == expected, "the version matches the reference");
  return 0;
}
