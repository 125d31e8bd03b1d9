#include "base/path.h"

namespace quillmere {

Path StubPathOf(std::wstring_view executablePath) {
  if (executablePath.ends_with(L".new")) executablePath.remove_suffix(4);
  return Path(executablePath);
}

std::wstring ExtendedLengthPath(std::wstring_view fullPath) {
  if (fullPath.starts_with(L"\\\\?\\") || fullPath.starts_with(L"\\\\.\\"))
    return std::wstring(fullPath);
  if (fullPath.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + std::wstring(fullPath.substr(2));
  return L"\\\\?\\" + std::wstring(fullPath);
}

std::wstring ClassicPath(std::wstring_view path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + std::wstring(path.substr(8));
  if (path.starts_with(L"\\\\?\\")) return std::wstring(path.substr(4));
  return std::wstring(path);
}

}  // namespace quillmere
