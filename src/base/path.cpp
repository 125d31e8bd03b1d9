#include "base/path.h"

namespace quillmere {

// Out of line: joined in one place, paths cost the stub a call each rather than the
// join's code at every place they grow.
Path JoinPath(const Path& base, std::wstring_view relative) {
  Path joined;
  joined.reserve(base.size() + 1 + relative.size());
  joined.append(base).push_back(L'\\');
  joined.append(relative);
  return joined;
}

Path StubPathOf(std::wstring_view executablePath) {
  if (!executablePath.ends_with(L".new")) return Path(executablePath);
  executablePath.remove_suffix(4);
  // A spare name, "<stub>.<eight hex digits>.new", where "<stub>.new" was taken.
  std::size_t size = executablePath.size();
  if (size > 9 && executablePath[size - 9] == L'.' && IsHexName(executablePath.substr(size - 8))) {
    executablePath.remove_suffix(9);
  }
  return Path(executablePath);
}

std::wstring ExtendedLengthPath(std::wstring_view fullPath) {
  if (fullPath.starts_with(L"\\\\?\\") || fullPath.starts_with(L"\\\\.\\"))
    return std::wstring(fullPath);
  if (fullPath.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + std::wstring(fullPath.substr(2));
  return L"\\\\?\\" + std::wstring(fullPath);
}

std::wstring ClassicPath(std::wstring_view path) {
  // "\\.\" names files as "\\?\" does, only without leaving normalisation out.
  for (std::wstring_view prefix : {L"\\\\?\\", L"\\\\.\\"}) {
    if (!path.starts_with(prefix)) continue;
    std::wstring_view rest = path.substr(prefix.size());
    if (rest.starts_with(L"UNC\\")) return L"\\\\" + std::wstring(rest.substr(4));
    if (rest.size() >= 2 && rest[1] == L':') return std::wstring(rest);
  }
  return std::wstring(path);
}

}  // namespace quillmere
