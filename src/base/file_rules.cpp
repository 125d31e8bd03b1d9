#include "base/file_rules.h"

#include <algorithm>

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
  constexpr std::uint32_t kAccessDenied = 5, kInvalidName = 123, kBadPathName = 161,
                          kNameTooLong = 206, kDirectoryName = 267;
  if (error == kAccessDenied) return Failure::kRefused;
  if (error == kInvalidName || error == kBadPathName || error == kNameTooLong ||
      error == kDirectoryName) {
    return Failure::kNever;
  }
  return Failure::kPasses;
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

}  // namespace quillmere
