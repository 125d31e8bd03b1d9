#include "base/file_rules.h"

#include <algorithm>
#include <iterator>

#include "base/path.h"

namespace quillmere {
namespace {

bool IsKnown(const std::array<std::uint8_t, 16>& id) {
  return std::any_of(id.begin(), id.end(), [](std::uint8_t b) { return b != 0; }) &&
         std::any_of(id.begin(), id.end(), [](std::uint8_t b) { return b != 0xFF; });
}

bool IsKnown(std::uint64_t index) { return index != 0 && index != ~std::uint64_t{0}; }

// A hex number of 1 to 16 digits from the start of `text`, which is advanced past it.
bool ReadHex(std::wstring_view& text, std::uint64_t& value) {
  std::size_t digits = std::min(text.find_first_not_of(L"0123456789abcdef"), text.size());
  if (digits == 0 || digits > 16) return false;
  value = 0;
  for (wchar_t c : text.substr(0, digits))
    value = value << 4 | (c <= L'9' ? c - L'0' : c - L'a' + 10);
  text.remove_prefix(digits);
  return true;
}

}  // namespace

Failure ClassifyFailure(std::uint32_t error) {
  constexpr std::uint32_t kLasting[] = {
      5,     // access denied
      19,    // write-protected
      223,   // too large for the volume
      225,   // an antivirus found a threat
      226,   // an antivirus blocks the file as unwanted
      665,   // a limit of the file system
      1392,  // a corrupt file or folder
      1393,  // a corrupt disk
      1920,  // a link whose driver is gone
  };
  constexpr std::uint32_t kNeverPossible[] = {
      123,  // invalid name
      161,  // bad path name
      206,  // name too long
      267,  // a folder name that is invalid
  };
  if (std::find(std::begin(kLasting), std::end(kLasting), error) != std::end(kLasting)) {
    return Failure::kRefused;
  }
  if (std::find(std::begin(kNeverPossible), std::end(kNeverPossible), error) !=
      std::end(kNeverPossible)) {
    return Failure::kNever;
  }
  return Failure::kPasses;
}

bool IsFileInUse(std::uint32_t error, std::uint32_t probe) {
  constexpr std::uint32_t kAccessDenied = 5, kSharingViolation = 32, kLockViolation = 33,
                          kUserMappedFile = 1224;
  if (error == kSharingViolation || error == kLockViolation || error == kUserMappedFile) {
    return true;
  }
  return error == kAccessDenied && (probe == 0 || probe == kSharingViolation);
}

bool IsOneFile(const FileIdentity& a, const FileIdentity& b) {
  if (a.hasId && b.hasId && IsKnown(a.id) && IsKnown(b.id)) {
    return a.idVolume == b.idVolume && a.id == b.id;
  }
  return a.hasIndex && b.hasIndex && IsKnown(a.index) && IsKnown(b.index) &&
         a.indexVolume == b.indexVolume && a.index == b.index;
}

std::wstring ScratchName(std::uint32_t processId, std::uint64_t startTime, std::uint32_t count) {
  return kScratchPrefix + HexName(processId) + L"-" + HexName(startTime) + L"." + HexName(count);
}

bool ParseScratchName(std::wstring_view name, std::uint32_t& processId, std::uint64_t& startTime) {
  std::uint64_t id = 0, count = 0;
  if (!name.starts_with(kScratchPrefix)) return false;
  name.remove_prefix(std::wstring_view(kScratchPrefix).size());
  if (!ReadHex(name, id) || id > 0xFFFFFFFF || !name.starts_with(L'-')) return false;
  name.remove_prefix(1);
  if (!ReadHex(name, startTime) || !name.starts_with(L'.')) return false;
  name.remove_prefix(1);
  processId = static_cast<std::uint32_t>(id);
  return ReadHex(name, count) && name.empty();
}

bool IsScratchName(std::wstring_view name) {
  std::uint32_t processId = 0;
  std::uint64_t startTime = 0;
  return ParseScratchName(name, processId, startTime);
}

}  // namespace quillmere
