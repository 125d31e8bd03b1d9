// Finishing an update that the launcher left pending.
#pragma once

#include "base/path.h"

namespace quillmere {

// Moves every staged file that <instance root>\content\cache\update-journal.txt
// lists over its target and deletes the journal once every move succeeded.
// True when there was nothing to do or every move succeeded; false when a move
// failed, in which case the journal stays for the next start.
bool ReplayUpdateJournal(const Path& instanceRoot);

}  // namespace quillmere
