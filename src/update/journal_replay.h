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
// player can close it), kFailed when Windows refused a move for another reason
// (access rights, Controlled Folder Access), which the launcher may tell the player
// about. A move that can never succeed (onto a folder, or onto the running stub) is
// passed over.
FileResult ReplayUpdateJournal(const Path& instanceRoot);

}  // namespace quillmere
