// Declarations shared by every part of the stub: the path type, how paths are
// joined, the two attribute tests, whole-file reading and the one message box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// An absolute Windows path without a trailing backslash. Nothing is normalised,
// resolved or limited in length.
using Path = std::wstring;

// base + "\" + relative: the only way paths grow.
inline Path JoinPath(std::wstring_view base, std::wstring_view relative) {
  Path joined;
  joined.reserve(base.size() + 1 + relative.size());
  joined.append(base).push_back(L'\\');
  joined.append(relative);
  return joined;
}

// One attribute query each, nothing cached: a path that fails one test is
// missing or is of the other kind.
bool IsFile(const Path& path);
bool IsDirectory(const Path& path);

// Shows one error message to the player. Only the start-up sequence calls it.
void ShowError(const std::wstring& text);

// The bytes read from a file opened for reading with read sharing only.
// A file that cannot be opened (missing, a folder, no access, or held for
// writing) gives no bytes and is not complete.
struct FileBytes {
  bool complete = false;  // true: read to the end without a failed read
  std::string bytes;
};

// Reads the file in blocks of `blockSize` bytes until the end, a failed read, or
// more than `enough` bytes have been collected. The handle is closed on return.
FileBytes ReadFileBytes(const Path& path, std::uint32_t blockSize,
                        std::size_t enough = static_cast<std::size_t>(-1));
