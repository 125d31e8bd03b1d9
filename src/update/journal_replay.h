// Finishing an update that the launcher left pending.
#pragma once

#include "base/path.h"

namespace quillmere {

// Moves every staged file that <instance root>\content\cache\update-journal.txt
// lists over its target, making the target's folder when it is missing, and
// deletes the journal once no move is left that a later start could finish. True
// then; false when a move failed that may succeed later (a file in use), in which
// case the journal stays for the next start. A move that can never succeed (onto a
// folder, or onto the running stub) is passed over.
bool ReplayUpdateJournal(const Path& instanceRoot);

}  // namespace quillmere
