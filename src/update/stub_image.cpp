#include "update/stub_image.h"

namespace quillmere {
namespace {

// The little-endian number of `width` bytes at `at`, or nothing when `head` ends before.
bool Read(std::string_view head, std::uint64_t at, std::size_t width, std::uint64_t& value) {
  if (at > head.size() || head.size() - at < width) return false;
  value = 0;
  for (std::size_t k = width; k-- > 0;)
    value = value << 8 | static_cast<unsigned char>(head[at + k]);
  return true;
}

}  // namespace

bool IsWholeX64GuiProgram(std::string_view head, std::uint64_t fileSize) {
  constexpr std::uint64_t kAmd64 = 0x8664, kPe32Plus = 0x20B, kGuiSubsystem = 2;
  constexpr std::uint64_t kExecutableImage = 0x0002, kDll = 0x2000;
  std::uint64_t pe, machine, sections, optionalSize, flags, magic, headersSize, subsystem;
  if (!head.starts_with("MZ") || !Read(head, 0x3C, 4, pe) || !Read(head, pe + 4, 2, machine) ||
      head.substr(pe, 4) != std::string_view("PE\0\0", 4) || !Read(head, pe + 6, 2, sections) ||
      !Read(head, pe + 20, 2, optionalSize) || !Read(head, pe + 22, 2, flags) ||
      !Read(head, pe + 24, 2, magic) || !Read(head, pe + 84, 4, headersSize) ||
      !Read(head, pe + 92, 2, subsystem)) {
    return false;
  }
  if (machine != kAmd64 || magic != kPe32Plus || subsystem != kGuiSubsystem ||
      !(flags & kExecutableImage) || (flags & kDll) || headersSize > fileSize ||
      optionalSize < 72) {
    return false;
  }
  for (std::uint64_t section = pe + 24 + optionalSize, end = section + 40 * sections; section < end;
       section += 40) {
    std::uint64_t rawSize, rawOffset;
    if (!Read(head, section + 16, 4, rawSize) || !Read(head, section + 20, 4, rawOffset) ||
        rawOffset + rawSize > fileSize) {
      return false;
    }
  }
  return true;
}

}  // namespace quillmere
