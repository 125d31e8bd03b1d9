#include "install/tree_copy.h"

#include <windows.h>

#include "base/files.h"
#include "base/handle.h"
#include "base/system_path.h"

namespace quillmere {

namespace {

// The copy is made under a temporary name and renamed into place without
// replacing, so an interrupted start never leaves a cut-off file under a real
// name. Files are copied one at a time, so one temporary name per folder is
// enough, and it fits beside a file name of any length.
void CopyFileWithoutReplacing(const Path& source, const Path& targetDir, std::wstring_view name) {
  std::wstring target = SystemPath(JoinPath(targetDir, name));
  if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  std::wstring from = SystemPath(source);
  std::wstring partial = SystemPath(JoinPath(targetDir, kPartialCopyName));
  if (!CopyFileW(from.c_str(), partial.c_str(), FALSE)) {
    // The leftover of an interrupted copy of a read-only file refuses to be
    // overwritten; clear it away and try once more.
    SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(partial.c_str());
    if (!CopyFileW(from.c_str(), partial.c_str(), FALSE)) return;
  }
  if (!MoveFileExW(partial.c_str(), target.c_str(), 0)) {
    SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(partial.c_str());
  }
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

void CopyTree(const Path& source, const Path& target) {
  if (!IsDirectory(source)) return;
  CreateDirectoryW(SystemPath(target).c_str(), nullptr);

  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(SystemPath(JoinPath(source, L"*")).c_str(), &entry));
  if (!find) return;
  do {
    if (IsDotOrDotDot(entry.cFileName)) continue;
    std::wstring_view name = entry.cFileName;
    // A leftover of an interrupted copy into the source is no game file.
    if (name == kPartialCopyName) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or directory link could lead back into the tree or out of it.
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      CopyTree(JoinPath(source, name), JoinPath(target, name));
    } else {
      CopyFileWithoutReplacing(JoinPath(source, name), target, name);
    }
  } while (FindNextFileW(find.get(), &entry));
}

}  // namespace quillmere
