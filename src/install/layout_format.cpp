#include "install/layout_format.h"

namespace quillmere {

std::int32_t LayoutVersionFromText(std::string_view bytes) {
  std::uint32_t value = 0;
  bool seenDigit = false;
  for (char byte : bytes) {
    if (byte >= '0' && byte <= '9') {
      value = value * 10u + static_cast<std::uint32_t>(byte - '0');
      seenDigit = true;
    } else if (seenDigit) {
      break;
    } else if (byte != ' ' && byte != '\t' && byte != '\n' && byte != '\r') {
      return 1;
    }
  }
  return seenDigit ? static_cast<std::int32_t>(value) : 1;
}

}  // namespace quillmere
