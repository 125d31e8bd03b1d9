#include "update/stub_image.h"

#include <cstdint>

namespace quillmere {

namespace {
std::uint32_t LittleEndian(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t k = width; k-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + k]);
  }
  return value;
}
}  // namespace

bool LooksLikeWindowsX64Program(std::string_view header) {
  constexpr std::size_t kNewHeaderOffsetAt = 0x3C;
  constexpr std::size_t kOptionalMagicAt = 24;  // past "PE\0\0" and the file header
  constexpr std::uint32_t kPe32PlusMagic = 0x20B;
  if (header.size() < kNewHeaderOffsetAt + 4 || !header.starts_with("MZ")) return false;
  std::uint32_t pe = LittleEndian(header, kNewHeaderOffsetAt, 4);
  if (pe > header.size() || header.size() - pe < kOptionalMagicAt + 2) return false;
  return header.substr(pe, 4) == std::string_view("PE\0\0", 4) &&
         LittleEndian(header, pe + kOptionalMagicAt, 2) == kPe32PlusMagic;
}

}  // namespace quillmere
