// The path type and the one way paths grow.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// An absolute Windows path without a trailing backslash.
using Path = std::wstring;

// base + "\" + relative.
inline Path JoinPath(std::wstring_view base, std::wstring_view relative) {
  Path joined;
  joined.reserve(base.size() + 1 + relative.size());
  joined.append(base).push_back(L'\\');
  joined.append(relative);
  return joined;
}

// The extended-length form of a full, normalised path: "\\?\C:\..." or
// "\\?\UNC\server\share\...". Paths that are already extended or name a device
// ("\\?\...", "\\.\...") come back unchanged.
std::wstring ExtendedLengthPath(std::wstring_view fullPath);

}  // namespace quillmere
