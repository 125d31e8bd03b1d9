#include "install/prepare.h"

#include <windows.h>

#include "base/files.h"
#include "base/handle.h"
#include "base/system_path.h"
#include "install/tree_check.h"
#include "install/tree_copy.h"

namespace quillmere {

namespace {

// Stands in an instance root while it is being filled: a fill that was cut off
// after the required items existed is still finished by the next start.
constexpr wchar_t kFillMark[] = L".quillmere-filling";

}  // namespace

void PrepareInstance(const Path& installRoot, std::wstring_view instanceName) {
  Path instanceRoot = JoinPath(installRoot, instanceName);
  Path mark = JoinPath(instanceRoot, kFillMark);
  if (IsInstanceTreeComplete(instanceRoot) && !IsFile(mark)) return;

  Path sourceRoot = JoinPath(installRoot, instanceName == L"live" ? L"dev" : L"live");
  Path sourceBin = JoinPath(sourceRoot, L"content\\bin");
  if (!IsDirectory(sourceBin)) return;

  CreateFolder(instanceRoot);
  CreateFolder(JoinPath(instanceRoot, L"content"));
  CreateFolder(JoinPath(instanceRoot, L"logs"));
  CreateFolder(JoinPath(instanceRoot, L"settings"));
  UniqueFile(CreateFileW(SystemPath(mark).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));

  CopyTree(sourceBin, JoinPath(instanceRoot, L"content\\bin"));
  CopyTree(JoinPath(sourceRoot, L"content\\resources"),
           JoinPath(instanceRoot, L"content\\resources"));
  DeleteFileW(SystemPath(mark).c_str());
}

}  // namespace quillmere
