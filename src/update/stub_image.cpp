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

// The security directory, entry 4 of the PE32+ optional header's data directories:
// where the certificate table lies in the file and its size, both 0 when the headers
// name none; false when `head` ends inside the headers.
bool FindSecurityDirectory(std::string_view head, std::uint64_t& offset, std::uint64_t& size) {
  // In the optional header, 24 bytes past "PE", the directories are counted at 108 and
  // listed from 112, 8 bytes each.
  constexpr std::uint64_t kCountAt = 24 + 108, kSecurityAt = 24 + 112 + 8 * 4;
  std::uint64_t pe, count;
  offset = size = 0;
  if (!Read(head, 0x3C, 4, pe) || !Read(head, pe + kCountAt, 4, count)) return false;
  if (count < 5) return true;
  return Read(head, pe + kSecurityAt, 4, offset) && Read(head, pe + kSecurityAt + 4, 4, size);
}

}  // namespace

std::uint64_t CertificateTableOffset(std::string_view head) {
  std::uint64_t offset, size;
  return FindSecurityDirectory(head, offset, size) ? offset : 0;
}

bool IsWholeX64GuiProgram(std::string_view head, std::uint64_t fileSize,
                          std::string_view certificate) {
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
  // Where Windows demands valid signatures, a program whose signature was cut off, even
  // by a byte, does not start. Signers append the table, aligned, at the end of the file.
  constexpr std::uint64_t kRevision2 = 0x0200, kPkcsSignedData = 2;
  std::uint64_t tableAt, tableSize, length, revision, type;
  if (!FindSecurityDirectory(head, tableAt, tableSize)) return false;
  if (tableSize == 0) return true;
  return tableAt % 8 == 0 && tableAt + tableSize == fileSize && Read(certificate, 0, 4, length) &&
         Read(certificate, 4, 2, revision) && Read(certificate, 6, 2, type) && length >= 8 &&
         length <= tableSize && revision == kRevision2 && type == kPkcsSignedData;
}

}  // namespace quillmere
