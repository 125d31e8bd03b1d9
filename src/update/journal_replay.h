// Finishing an update that the launcher left pending.
#pragma once

#include "base/files.h"
#include "base/path.h"

namespace quillmere {

// Moves every staged file that <instance root>\content\cache\update-journal.txt
// lists over its target, making the target's folder when it is missing, and
// deletes the journal once no move is left that a later start could finish: kDone.
// Otherwise the journal stays for the next start, and the result says why: kInUse
// when a program still held a file after the start's time for waiting ran out (the
// player can close it), kFailed when a move failed for another reason (access rights,
// Controlled Folder Access, a full disk, a folder that could not be made), which a later
// start may finish and the launcher may tell the player about. A move that can never
// succeed (onto a folder or the running stub, under a file where a folder must be, to a
// name the volume cannot hold) is passed over.
FileResult ReplayUpdateJournal(const Path& instanceRoot);

// Where the journal and the staged files of an instance lie.
inline Path UpdateJournalPath(const Path& instanceRoot) {
  return JoinPath(instanceRoot, L"content\\cache\\update-journal.txt");
}
inline Path StagingFolderOf(const Path& instanceRoot) {
  return JoinPath(instanceRoot, L"content\\cache\\staging");
}

// Whether no move can ever bring a staged file to `target`: a folder stands there, or the
// stub `stub` itself.
bool IsTargetOutOfReach(const Path& target, const Path& stub);

// Whether `folder`, one that a target needs, can never be one: a file holds its name.
bool IsFolderTakenByFile(const Path& folder);

}  // namespace quillmere
