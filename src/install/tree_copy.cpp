#include "install/tree_copy.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "base/files.h"
#include "base/handle.h"

namespace quillmere {
namespace {

// True when `target` now stands as a file: copied here, or there already.
bool CopyFileWithoutReplacing(const Path& source, const Path& target, const Path& scratch) {
  std::wstring to = SystemPath(target);
  DWORD attributes = GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  std::wstring partial = SystemPath(scratch);
  if (!CopyFileW(SystemPath(source).c_str(), partial.c_str(), TRUE)) return false;
  if (MoveFileExW(partial.c_str(), to.c_str(), 0)) return true;
  RemoveFile(scratch);
  // Another stub may have put its own copy in place meanwhile.
  return IsFile(target);
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

bool CopyTree(const Path& source, const Path& target, const Path& scratch) {
  if (!IsDirectory(source)) return true;
  bool inPlace = true;
  // Folders still to copy, taken last first: depth first, without a call per level,
  // so that no depth of tree can exhaust the stack.
  std::vector<std::pair<Path, Path>> pending = {{source, target}};
  while (!pending.empty()) {
    auto [from, to] = std::move(pending.back());
    pending.pop_back();
    CreateFolder(to);
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(SystemPath(JoinPath(from, L"*")).c_str(), &entry));
    if (!find) inPlace = false;
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
      if (IsDotOrDotDot(entry.cFileName)) continue;
      Path fromChild = JoinPath(from, entry.cFileName), toChild = JoinPath(to, entry.cFileName);
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        inPlace = CopyFileWithoutReplacing(fromChild, toChild, scratch) && inPlace;
      } else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A junction or directory link could lead back into the tree or out of it.
        pending.emplace_back(std::move(fromChild), std::move(toChild));
      }
    }
  }
  return inPlace;
}

}  // namespace quillmere
