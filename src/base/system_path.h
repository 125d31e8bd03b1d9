// The form of a path that is handed to the system.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// Returns `path` unchanged while it is short enough for every classic file call,
// else its extended-length form ("\\?\C:\..." or "\\?\UNC\server\share\..."), in
// which "/" is written as "\" since the system no longer converts it. Paths that
// are already extended or device paths, and paths that are neither drive nor UNC
// paths, are returned unchanged.
std::wstring SystemPath(std::wstring_view path);

}  // namespace quillmere
