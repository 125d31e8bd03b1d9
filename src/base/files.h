// The file-system calls that every part of the stub shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/path.h"

namespace quillmere {

// One attribute query each, nothing cached: a path that fails one test is
// missing or is of the other kind.
bool IsFile(const Path& path);
bool IsDirectory(const Path& path);

// Creates one folder level. A folder that exists already is fine, and a real
// failure shows in whatever test comes next, so the result is not returned.
void CreateFolder(const Path& path);

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

// The full path of the running executable, or empty when the system cannot give it.
Path GetExecutablePath();

}  // namespace quillmere
