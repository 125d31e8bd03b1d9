#include "install/prepare.h"

#include <windows.h>

#include "base/files.h"
#include "base/handle.h"
#include "install/tree_check.h"
#include "install/tree_copy.h"

namespace quillmere {
namespace {

// Stands in an instance root while it is being filled: an instance that carries it counts
// as incomplete, so a fill that was cut off or missed a file is finished by a later start.
// (Earlier stubs made it a file, and later ones kept their copies in progress in it.)
constexpr wchar_t kFillFolder[] = L".quillmere-filling";

// Makes the mark a folder of its own. What stands there is never entered through a link,
// which would lead to files outside the install: a link (any reparse point) is removed as
// such. Of a folder, only the files in it go, which earlier stubs left there.
void MarkFill(const Path& fill) {
  std::wstring system = SystemPath(fill);
  DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    CreateFolder(fill);
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // Wine cannot remove a link this way; it stays there, never entered.
    if (RemoveDirectoryW(system.c_str())) CreateFolder(fill);
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    RemoveFile(fill);
    CreateFolder(fill);
  } else {
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(SystemPath(JoinPath(fill, L"*")).c_str(), &entry));
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        RemoveFile(JoinPath(fill, entry.cFileName));
      }
    }
  }
}

}  // namespace

void PrepareInstance(const Path& installRoot, std::wstring_view instanceName) {
  Path instanceRoot = JoinPath(installRoot, instanceName);
  Path fill = JoinPath(instanceRoot, kFillFolder);
  if (IsInstanceTreeComplete(instanceRoot) && !Exists(fill)) return;

  Path sourceRoot = JoinPath(installRoot, instanceName == L"live" ? L"dev" : L"live");
  Path sourceBin = JoinPath(sourceRoot, L"content\\bin");
  if (!IsDirectory(sourceBin)) return;

  CreateFolder(instanceRoot);
  CreateFolder(JoinPath(instanceRoot, L"content"));
  CreateFolder(JoinPath(instanceRoot, L"logs"));
  CreateFolder(JoinPath(instanceRoot, L"settings"));
  MarkFill(fill);
  bool settled = CopyTree(sourceBin, JoinPath(instanceRoot, L"content\\bin"));
  settled = CopyTree(JoinPath(sourceRoot, L"content\\resources"),
                     JoinPath(instanceRoot, L"content\\resources")) &&
            settled;
  // Once every file stands, whichever stub put it there; a link is removed as such.
  if (settled) RemoveDirectoryW(SystemPath(fill).c_str());
}

}  // namespace quillmere
