#include "update/journal_replay.h"

#include <windows.h>

#include "base/files.h"
#include "update/journal_format.h"

namespace quillmere {
namespace {

constexpr DWORD kReplaceAcrossVolumes = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;

// Moves the staged file over its target. A move that can never succeed counts as
// done: it must not keep the journal, and with it the player, waiting for good.
FileResult MoveStagedFile(const Path& source, const Path& instanceRoot,
                          const std::wstring& targetPath) {
  Path target = JoinPath(instanceRoot, targetPath);
  if (MoveFileExW(SystemPath(source).c_str(), SystemPath(target).c_str(), kReplaceAcrossVolumes)) {
    return FileResult::kDone;
  }
  if (IsDirectory(target) || IsSameFile(target, GetExecutablePath())) return FileResult::kDone;
  // A folder that the update brings anew is made (the entry was checked to stay
  // inside the instance).
  for (std::size_t at = 0; (at = targetPath.find(L'\\', at)) != std::wstring::npos; ++at) {
    CreateFolder(JoinPath(instanceRoot, targetPath.substr(0, at)));
  }
  if (!IsDirectory(target.substr(0, target.rfind(L'\\')))) return FileResult::kDone;
  // Read-only files are moved like any other: a target is replaced, and a staged
  // file on another volume is deleted once copied.
  SetFileAttributesW(SystemPath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(SystemPath(source).c_str(), FILE_ATTRIBUTE_NORMAL);
  return MovePath(source, target, kReplaceAcrossVolumes);
}

}  // namespace

FileResult ReplayUpdateJournal(const Path& instanceRoot) {
  Path journal = JoinPath(instanceRoot, L"content\\cache\\update-journal.txt");
  if (!IsFile(journal)) return FileResult::kDone;
  FileBytes file = ReadFileBytes(journal, 4096);
  // A journal that could not be read to its end stays for a later start: a
  // half-read line must never become a target, and deleting it would lose the
  // entries that were not read.
  if (!file.complete) return FileResult::kDone;

  Path staging = JoinPath(instanceRoot, L"content\\cache\\staging");
  FileResult result = FileResult::kDone;
  for (const JournalEntry& entry : ParseUpdateJournal(file.bytes)) {
    Path source = JoinPath(staging, entry.stagedName);
    // A staged file that is gone was moved by an earlier start.
    if (!IsFile(source)) continue;
    FileResult moved = MoveStagedFile(source, instanceRoot, entry.targetPath);
    // A file in use is what the player can mend, so it is the one reported.
    if (moved != FileResult::kDone && result != FileResult::kInUse) result = moved;
  }
  if (result == FileResult::kDone) RemoveFileWhenFree(journal);
  return result;
}

}  // namespace quillmere
