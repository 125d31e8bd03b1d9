// The path type and the one way paths grow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmere {

// An absolute Windows path without a trailing backslash.
using Path = std::wstring;

// base + "\" + relative.
Path JoinPath(const Path& base, std::wstring_view relative);

// The folder that holds `path`.
inline Path FolderOf(std::wstring_view path) { return Path(path.substr(0, path.rfind(L'\\'))); }

// `name` with its ASCII letters in lower case, as names are compared where only ASCII
// letters matter.
inline std::wstring LowerCaseName(std::wstring_view name) {
  std::wstring lower(name);
  for (wchar_t& c : lower) c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
  return lower;
}

// Whether `text` could be a HexName: lower-case hex digits only, at least one.
inline bool IsHexName(std::wstring_view text) {
  return !text.empty() && text.find_first_not_of(L"0123456789abcdef") == std::wstring_view::npos;
}

// `number` in lower-case hex, for names that must differ: as std::to_wstring would
// bring 23 KB of formatting code into the stub.
inline std::wstring HexName(std::uint64_t number) {
  std::wstring name;
  for (; name.empty() || number != 0; number >>= 4)
    name.insert(0, 1, L"0123456789abcdef"[number & 15]);
  return name;
}

// Where the stub lives, given the running executable's path: a new stub first runs as
// "<stub>.new" (or "<stub>.<eight hex digits>.new" where that was taken), and until it takes
// the stub's name it is the same stub all the same.
Path StubPathOf(std::wstring_view executablePath);

// The extended-length form of a full, normalised path: "\\?\C:\..." or
// "\\?\UNC\server\share\...". Paths that are already extended or name a device
// ("\\?\...", "\\.\...") come back unchanged.
std::wstring ExtendedLengthPath(std::wstring_view fullPath);

// The classic form of a path that may be in its extended-length form: "\\?\C:\..." (or
// "\\.\C:\...") becomes "C:\..." and "\\?\UNC\server\..." becomes "\\server\...". Other
// paths, volume names among them, come back unchanged.
std::wstring ClassicPath(std::wstring_view path);

}  // namespace quillmere
