#include "install/tree_copy.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "base/file_rules.h"
#include "base/files.h"
#include "base/handle.h"

namespace quillmere {
namespace {

// A whole copy that a program (a scanner) held when it was to be renamed into place.
struct HeldCopy {
  Path partial;
  Path target;
};

// Whether the copy of a file that failed with `error` is settled: a later start can do no
// better.
bool Settled(DWORD error) { return ClassifyFailure(error) != Failure::kPasses; }

// After a whole copy failed to take its name with `error`: the copy goes, and the file is
// settled when another stub's copy took the name meanwhile or a later start can do no
// better.
bool SettleFailedRename(const Path& partial, DWORD error) {
  RemoveFile(partial);
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || Settled(error);
}

// Renames a whole copy into place, never over a file. Settled unless it is still held.
bool PutCopyInPlace(const HeldCopy& copy) {
  FileResult moved = MovePath(copy.partial, copy.target, 0);
  if (moved == FileResult::kInUse) return false;
  return moved == FileResult::kDone || SettleFailedRename(copy.partial, GetLastError());
}

// Settled when `target` now stands (or was there already), when it can never be copied,
// or when its whole copy waits in `held` for a program to let go of it. The copy is made in
// `scratch`, a folder on the target's volume, and renamed into place whole.
bool CopyFileWithoutReplacing(const Path& source, const Path& target, const Path& scratch,
                              std::vector<HeldCopy>& held) {
  std::wstring to = SystemPath(target);
  // A file there is the player's and stays; a folder there takes the name for good.
  if (GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  Path partial;
  FileResult copied = CopyToScratch(source, scratch, partial);
  if (copied != FileResult::kDone) return copied == FileResult::kFailed && Settled(GetLastError());
  if (MoveFileExW(SystemPath(partial).c_str(), to.c_str(), 0)) return true;
  // A scanner looking at the fresh copy: the others go on meanwhile.
  if (FailedOnFileInUse()) {
    held.push_back({partial, target});
    return true;
  }
  return SettleFailedRename(partial, GetLastError());
}

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

bool CopyTree(const Path& source, const Path& target, const Path& scratch) {
  if (!IsDirectory(source)) return true;
  std::uint32_t scratchVolume = scratch.empty() ? 0 : VolumeOf(scratch);
  bool settled = true;
  std::vector<HeldCopy> held;
  // Folders still to copy, taken last first: depth first, without a call per level,
  // so that no depth of tree can exhaust the stack.
  std::vector<std::pair<Path, Path>> pending = {{source, target}};
  while (!pending.empty()) {
    auto [from, to] = std::move(pending.back());
    pending.pop_back();
    CreateFolder(to);
    // A file that holds the folder's name does so for good: nothing of it can be
    // copied. A folder that could not be made may be by a later start.
    if (!IsDirectory(to)) {
      settled = Exists(to) && settled;
      continue;
    }
    // Where the folder lies on another volume (a folder linked to another drive), its
    // copies are made beside their targets, and what cut-off starts left there goes.
    bool sameVolume = scratchVolume != 0 && VolumeOf(to) == scratchVolume;
    if (!sameVolume) RemoveScratchLeftovers(to);
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(SystemPath(JoinPath(from, L"*")).c_str(), &entry));
    if (!find) settled = false;
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
      if (IsDotOrDotDot(entry.cFileName)) continue;
      Path fromChild = JoinPath(from, entry.cFileName), toChild = JoinPath(to, entry.cFileName);
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        settled = CopyFileWithoutReplacing(fromChild, toChild, sameVolume ? scratch : to, held) &&
                  settled;
      } else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                 !IsReparseTagNameSurrogate(entry.dwReserved0)) {
        // A junction, directory link or mount point could lead back into the tree or
        // out of it; a cloud-backed folder (OneDrive) is a reparse point too, but holds
        // its own files. Wine cannot make one of those.
        pending.emplace_back(std::move(fromChild), std::move(toChild));
      }
    }
  }
  for (const HeldCopy& copy : held) settled = PutCopyInPlace(copy) && settled;
  return settled;
}

}  // namespace quillmere
