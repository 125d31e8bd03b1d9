#include "update/journal_replay.h"

#include <windows.h>

#include "base/file_rules.h"
#include "base/files.h"
#include "update/journal_format.h"

namespace quillmere {
namespace {

// Moves a staged file that lies on another volume than its target: a whole copy is made
// beside the target, in a folder of this start's own, and renamed over it, and only then
// does the staged file go. A move that copied straight onto the target would leave it cut
// short on a full disk.
FileResult CopyFromAnotherVolume(const Path& source, const Path& target) {
  Path folder = FolderOf(target), copy;
  RemoveScratchLeftovers(folder);
  FileResult result = CopyToScratch(source, folder, copy, true);
  if (result != FileResult::kDone) return result;
  result = MovePath(copy, target, MOVEFILE_REPLACE_EXISTING);
  DWORD error = GetLastError();
  if (result != FileResult::kDone) RemoveFileWhenFree(copy);
  // The folder goes while the staged file stays: a start cut off in between leaves the entry
  // to a later start, which removes what is left of the folder as it copies again.
  RemoveCopyFolder(copy);
  if (result == FileResult::kDone) RemoveFileWhenFree(source);
  SetLastError(error);
  return result;
}

// Moves the staged file over its target, whole or not at all. A move that can never
// succeed counts as done: it must not keep the journal, and with it the player, waiting
// for good. Any other failure keeps the entry for a later start.
FileResult MoveStagedFile(const Path& source, const Path& instanceRoot,
                          const std::wstring& targetPath) {
  Path target = JoinPath(instanceRoot, targetPath);
  if (MoveFileExW(SystemPath(source).c_str(), SystemPath(target).c_str(),
                  MOVEFILE_REPLACE_EXISTING)) {
    return FileResult::kDone;
  }
  if (IsTargetOutOfReach(target, GetExecutablePath())) return FileResult::kDone;
  // A folder that the update brings anew is made (the entry was checked to stay inside the
  // instance). One that cannot be made now may be later, unless a file stands in its place.
  for (std::size_t at = 0; (at = targetPath.find(L'\\', at)) != std::wstring::npos; ++at) {
    Path folder = JoinPath(instanceRoot, targetPath.substr(0, at));
    CreateFolder(folder);
    if (IsFolderTakenByFile(folder)) return FileResult::kDone;
  }
  if (!IsDirectory(FolderOf(target))) return FileResult::kFailed;
  // Read-only files are moved like any other: a target is replaced, and a staged file on
  // another volume is deleted once copied.
  SetFileAttributesW(SystemPath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(SystemPath(source).c_str(), FILE_ATTRIBUTE_NORMAL);
  FileResult moved = MovePath(source, target, MOVEFILE_REPLACE_EXISTING);
  if (moved == FileResult::kFailed && GetLastError() == ERROR_NOT_SAME_DEVICE) {
    moved = CopyFromAnotherVolume(source, target);
  }
  if (moved == FileResult::kFailed && ClassifyFailure(GetLastError()) == Failure::kNever) {
    return FileResult::kDone;
  }
  return moved;
}

}  // namespace

bool IsTargetOutOfReach(const Path& target, const Path& stub) {
  return IsDirectory(target) || IsSameFile(target, stub);
}

bool IsFolderTakenByFile(const Path& folder) { return IsFile(folder); }

FileResult ReplayUpdateJournal(const Path& instanceRoot) {
  Path journal = UpdateJournalPath(instanceRoot);
  if (!IsFile(journal)) return FileResult::kDone;
  FileBytes file = ReadFileBytes(journal, 4096);
  // A journal that could not be read to its end stays for a later start: a
  // half-read line must never become a target, and deleting it would lose the
  // entries that were not read.
  if (!file.complete) return FileResult::kDone;

  Path staging = StagingFolderOf(instanceRoot);
  FileResult result = FileResult::kDone;
  for (const JournalEntry& entry : ParseUpdateJournal(file.bytes)) {
    Path source = JoinPath(staging, entry.stagedName);
    // A staged file that is gone was moved by an earlier start; a folder is none. One that
    // could not be looked at is kept for a later start, with the journal.
    PathKind staged = KindOf(source);
    FileResult moved = FileResult::kDone;
    if (staged == PathKind::kFile) moved = MoveStagedFile(source, instanceRoot, entry.targetPath);
    if (staged == PathKind::kUnknown) moved = FileResult::kFailed;
    // A file in use is what the player can mend, so it is the one reported.
    if (moved != FileResult::kDone && result != FileResult::kInUse) result = moved;
  }
  if (result == FileResult::kDone) RemoveFileWhenFree(journal);
  return result;
}

}  // namespace quillmere
