#include "base/files.h"

#include <windows.h>

#include "base/handle.h"
#include "base/system_path.h"

namespace quillmere {
namespace {
DWORD AttributesOf(const Path& path) { return GetFileAttributesW(SystemPath(path).c_str()); }
}  // namespace

bool IsFile(const Path& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const Path& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CreateFolder(const Path& path) { CreateDirectoryW(SystemPath(path).c_str(), nullptr); }

FileBytes ReadFileBytes(const Path& path, std::uint32_t blockSize, std::size_t enough) {
  FileBytes result;
  // Read sharing only: a file that another program is still writing is not read.
  UniqueFile file(CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return result;
  for (;;) {
    std::size_t had = result.bytes.size();
    result.bytes.resize(had + blockSize);
    DWORD read = 0;
    BOOL ok = ReadFile(file.get(), result.bytes.data() + had, blockSize, &read, nullptr);
    result.bytes.resize(had + (ok ? read : 0));
    if (!ok) return result;
    if (read == 0) {
      result.complete = true;
      return result;
    }
    if (result.bytes.size() > enough) return result;
  }
}

Path GetExecutablePath() {
  Path buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return Path();
    if (length == size && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      // The path was cut: try again with twice the room.
      buffer.assign(buffer.size() * 2, L'\0');
      continue;
    }
    buffer.resize(length);
    return buffer;
  }
}

}  // namespace quillmere
