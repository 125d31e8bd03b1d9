#include "install/prepare.h"

#include <windows.h>

#include <cwchar>

#include "base/files.h"
#include "base/handle.h"
#include "install/tree_check.h"
#include "install/tree_copy.h"

namespace quillmere {
namespace {

// Stands in an instance root while it is being filled, and holds the copies in
// progress, each named after the process that makes it. An instance that carries
// it counts as incomplete, so a fill that was cut off or missed a file is finished
// by a later start. (Earlier stubs made it a file.)
constexpr wchar_t kFillFolder[] = L".quillmere-filling";

// Whether the process whose number begins a copy's name, up to its first dot, still runs.
// Its copy may be whole and about to be renamed into place, when nothing holds it open.
bool IsCopyOfRunningProcess(const wchar_t* name) {
  DWORD id = std::wcstoul(name, nullptr, 16);
  UniqueProcessHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
  return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// Removes the copies that fills which were cut off left behind, but none of a stub that
// still fills.
void RemoveLeftovers(const Path& folder) {
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(SystemPath(JoinPath(folder, L"*")).c_str(), &entry));
  for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!IsCopyOfRunningProcess(entry.cFileName)) RemoveFile(JoinPath(folder, entry.cFileName));
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
  RemoveFile(fill);
  CreateFolder(fill);
  RemoveLeftovers(fill);

  // This process's number, which no other running process has, begins the names of
  // its copies in progress.
  Path scratch = JoinPath(fill, HexName(GetCurrentProcessId()));
  bool settled = CopyTree(sourceBin, JoinPath(instanceRoot, L"content\\bin"), scratch + L".b");
  settled = CopyTree(JoinPath(sourceRoot, L"content\\resources"),
                     JoinPath(instanceRoot, L"content\\resources"), scratch + L".r") &&
            settled;
  // Fails while another stub still copies into the instance: the last one to finish
  // removes it.
  if (settled) RemoveDirectoryW(SystemPath(fill).c_str());
}

}  // namespace quillmere
