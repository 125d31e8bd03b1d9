#include "update/journal_replay.h"

#include <windows.h>

#include "base/files.h"
#include "base/system_path.h"
#include "update/journal_format.h"

namespace quillmere {

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
    if (!IsFile(source)) continue;
    Path target = JoinPath(instanceRoot, entry.targetPath);
    if (!MoveFileExW(SystemPath(source).c_str(), SystemPath(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      allMovesSucceeded = false;
    }
  }
  if (allMovesSucceeded) DeleteFileW(SystemPath(journal).c_str());
  return allMovesSucceeded;
}

}  // namespace quillmere
