#include "update/stub_image.h"

namespace quillmere {
namespace {

// The little-endian number of `width` bytes at `at`, or nothing when `head` ends before.
bool Read(std::string_view head, std::uint64_t at, std::size_t width, std::uint64_t& value) {
  if (at > head.size() || head.size() - at < width) return false;
  value = 0;
  for (std::size_t k = width; k-- > 0;) value = value << 8 | static_cast<unsigned char>(head[at + k]);
  return true;
}

}  // namespace

bool IsWholeX64GuiProgram(std::string_view head, std::uint64_t fileSize) {
  constexpr std::uint64_t kAmd64 = 0x8664, kPe32Plus = 0x20B, kGuiSubsystem = 2;
  constexpr std::uint64_t kExecutableImage = 0x0002, kDll = 0x2000;
  std::uint64_t pe, machine, sections, optionalSize, flags, magic, headersSize, subsystem;
  if (!head.starts_with("MZ") || !Read(head, 0x3C, 4, pe) || !Read(head, pe + 4, 2, machine) ||
      head.substr(pe, 4) != std::string_view("PE\0\0", 4) || !Read(head, pe + 6, 2, sections) ||
      !Read(head, pe + 20, 2, optionalSize) || !Read(head, pe + 22, 2, flags) || !Read(head, pe + 24, 2, magic) ||
      !Read(head, pe + 84, 4, headersSize) || !Read(head, pe + 92, 2, subsystem)) {
    return false;
  }
  if (machine != kAmd64 || magic != kPe32Plus || subsystem != kGuiSubsystem || !(flags & kExecutableImage) ||
      (flags & kDll) || headersSize > fileSize || optionalSize < 72) {
    return false;
  }
  for (std::uint64_t section = pe + 24 + optionalSize, end = section + 40 * sections; section < end; section += 40) {
    std::uint64_t rawSize, rawOffset;
    if (!Read(head, section + 16, 4, rawSize) || !Read(head, section + 20, 4, rawOffset) ||
        rawOffset + rawSize > fileSize) {
      return false;
    }
  }
  return true;
}

bool IsLoaderFailure(std::uint32_t exitCode) {
  switch (exitCode) {
    case 0xC000007B:  // STATUS_INVALID_IMAGE_FORMAT
    case 0xC000012F:  // STATUS_INVALID_IMAGE_NOT_MZ
    case 0xC0000130:  // STATUS_INVALID_IMAGE_PROTECT
    case 0xC0000131:  // STATUS_INVALID_IMAGE_WIN_16
    case 0xC0000135:  // STATUS_DLL_NOT_FOUND
    case 0xC0000138:  // STATUS_ORDINAL_NOT_FOUND
    case 0xC0000139:  // STATUS_ENTRYPOINT_NOT_FOUND
    case 0xC0000142:  // STATUS_DLL_INIT_FAILED
    case 0xC0000145:  // STATUS_APP_INIT_FAILURE
    case 0xC0000221:  // STATUS_IMAGE_CHECKSUM_MISMATCH
    case 0xC000035A:  // STATUS_INVALID_IMAGE_WIN_64
    case 0xC0000428:  // STATUS_INVALID_IMAGE_HASH
      return true;
  }
  // The side-by-side errors: a manifest that Windows cannot use.
  return (exitCode & 0xFFFF0000u) == 0xC0150000u;
}

}  // namespace quillmere
