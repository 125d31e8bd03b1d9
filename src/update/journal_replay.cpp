#include "update/journal_replay.h"

#include <windows.h>

#include "base/files.h"
#include "update/journal_format.h"

namespace quillmere {
namespace {

bool Move(const Path& source, const Path& target) {
  return MoveFileExW(SystemPath(source).c_str(), SystemPath(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

// Moves the staged file over its target. False only when the move failed but may
// succeed later, as when a file is in use: a move that never can must not keep the
// journal, and with it the player, waiting for good.
bool MoveStagedFile(const Path& source, const Path& instanceRoot, const std::wstring& targetPath) {
  Path target = JoinPath(instanceRoot, targetPath);
  if (Move(source, target)) return true;
  if (IsDirectory(target) || IsSameFile(target, GetExecutablePath())) return true;
  // A folder that the update brings anew is made (the entry was checked to stay
  // inside the instance), and a read-only target is replaced like any other.
  for (std::size_t at = 0; (at = targetPath.find(L'\\', at)) != std::wstring::npos; ++at) {
    CreateFolder(JoinPath(instanceRoot, targetPath.substr(0, at)));
  }
  if (!IsDirectory(target.substr(0, target.rfind(L'\\')))) return true;
  SetFileAttributesW(SystemPath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
  return Move(source, target);
}

}  // namespace

bool ReplayUpdateJournal(const Path& instanceRoot) {
  Path journal = JoinPath(instanceRoot, L"content\\cache\\update-journal.txt");
  if (!IsFile(journal)) return true;
  FileBytes file = ReadFileBytes(journal, 4096);
  // A journal that could not be read to its end stays for a later start: a
  // half-read line must never become a target, and deleting it would lose the
  // entries that were not read.
  if (!file.complete) return true;

  Path staging = JoinPath(instanceRoot, L"content\\cache\\staging");
  bool allMovesSucceeded = true;
  for (const JournalEntry& entry : ParseUpdateJournal(file.bytes)) {
    Path source = JoinPath(staging, entry.stagedName);
    // A staged file that is gone was moved by an earlier start.
    if (IsFile(source) && !MoveStagedFile(source, instanceRoot, entry.targetPath)) allMovesSucceeded = false;
  }
  if (allMovesSucceeded) DeleteFileW(SystemPath(journal).c_str());
  return allMovesSucceeded;
}

}  // namespace quillmere
