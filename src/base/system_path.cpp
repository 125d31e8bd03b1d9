#include "base/system_path.h"

namespace quillmere {

namespace {

// CreateDirectoryW keeps room for an 8.3 name below MAX_PATH, so it is the
// tightest of the classic limits.
constexpr std::size_t kLongestClassicPath = 247;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::wstring SystemPath(std::wstring_view path) {
  if (path.size() <= kLongestClassicPath) return std::wstring(path);
  std::wstring_view rest;
  std::wstring result;
  if (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2])) {
    result = L"\\\\?\\";
    rest = path;
  } else if (IsSeparator(path[0]) && IsSeparator(path[1])) {
    if (path.size() >= 3 && (path[2] == L'?' || path[2] == L'.')) return std::wstring(path);
    result = L"\\\\?\\UNC\\";
    rest = path.substr(2);
  } else {
    return std::wstring(path);
  }
  for (wchar_t c : rest) result.push_back(c == L'/' ? L'\\' : c);
  return result;
}

}  // namespace quillmere
