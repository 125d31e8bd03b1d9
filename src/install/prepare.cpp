#include "install/prepare.h"

#include <windows.h>

#include "base/file_rules.h"
#include "base/files.h"
#include "base/handle.h"
#include "install/tree_check.h"
#include "install/tree_copy.h"

namespace quillmere {
namespace {

// Stands in an instance root while it is being filled, and holds the copies in progress
// of the files on its volume. An instance that carries it counts as incomplete, so a fill
// that was cut off or missed a file is finished by a later start. (Earlier stubs made it a
// file.)
constexpr wchar_t kFillFolder[] = L".quillmere-filling";

// Makes the mark a folder of ours and tells whether it is one. What stands there is never
// entered through a link, which would lead to files outside the install: a link (any
// reparse point) is removed as such, and where it cannot be, the mark holds no copies. In
// a folder of ours, the copies that ended starts left there go, and any other file, which
// an earlier build left; the copies of starts that still run stay.
bool MarkFill(const Path& fill) {
  std::wstring system = SystemPath(fill);
  DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Nothing there yet.
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // Wine cannot remove a link this way: it stays, never entered.
    if (!RemoveDirectoryW(system.c_str())) return false;
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    RemoveFile(fill);
  } else {
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(SystemPath(JoinPath(fill, L"*")).c_str(), &entry));
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
      // A folder of an ended start is a tree that a later start takes over.
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      bool copy = std::wstring_view(entry.cFileName).starts_with(kScratchPrefix);
      if (!copy || IsScratchOfEndedStart(entry.cFileName)) {
        RemoveFile(JoinPath(fill, entry.cFileName));
      }
    }
    return true;
  }
  CreateFolder(fill);
  return IsDirectory(fill);
}

}  // namespace

Path FillMarkOf(const Path& instanceRoot) { return JoinPath(instanceRoot, kFillFolder); }

bool InstanceNeedsFill(const Path& instanceRoot) {
  return !IsInstanceTreeComplete(instanceRoot) || Exists(FillMarkOf(instanceRoot));
}

Path FillSourceFor(const Path& installRoot, std::wstring_view instanceName) {
  Path sourceRoot = JoinPath(installRoot, instanceName == L"live" ? L"dev" : L"live");
  return IsDirectory(JoinPath(sourceRoot, L"content\\bin")) ? sourceRoot : Path();
}

void PrepareInstance(const Path& installRoot, std::wstring_view instanceName) {
  Path instanceRoot = JoinPath(installRoot, instanceName);
  if (!InstanceNeedsFill(instanceRoot)) return;
  Path fill = FillMarkOf(instanceRoot);

  Path sourceRoot = FillSourceFor(installRoot, instanceName);
  if (sourceRoot.empty()) return;
  Path sourceBin = JoinPath(sourceRoot, L"content\\bin");

  CreateFolder(instanceRoot);
  CreateFolder(JoinPath(instanceRoot, L"content"));
  CreateFolder(JoinPath(instanceRoot, L"logs"));
  CreateFolder(JoinPath(instanceRoot, L"settings"));
  Path scratch = MarkFill(fill) ? fill : Path();
  Path own = scratch.empty() ? Path() : TakeOverScratchTrees(scratch);
  bool settled = CopyTree(sourceBin, JoinPath(instanceRoot, L"content\\bin"), scratch,
                          own.empty() ? Path() : JoinPath(own, L"bin"));
  settled = CopyTree(JoinPath(sourceRoot, L"content\\resources"),
                     JoinPath(instanceRoot, L"content\\resources"), scratch,
                     own.empty() ? Path() : JoinPath(own, L"resources")) &&
            settled;
  if (!settled) return;
  // What is left of this start's folder was set aside for good. The mark fails to go while
  // another stub still copies into the instance: the last one to finish removes it. A link
  // is removed as such.
  if (!own.empty()) RemoveTree(own);
  RemoveDirectoryW(SystemPath(fill).c_str());
}

}  // namespace quillmere
