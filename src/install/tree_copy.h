// Copying a directory tree without ever replacing a file.
#pragma once

#include "base/path.h"

namespace quillmere {

// Copies `source` with everything under it to `target`, adding only what the target
// lacks. Each file is copied first under a name of this start's own, in `scratch` where
// that folder lies on the target folder's volume, else beside the target, and renamed into
// place only when whole, so neither a cut-off copy nor two stubs copying at once can leave
// a damaged file under a real name; a failed copy is removed at once. `scratch` may be
// empty: every copy is then made beside its target. Links to directories are neither
// followed nor copied. True when the copy is settled: every file of the source stands in
// the target or can never be copied there (a folder where the source has a file, or the
// reverse; a name the volume cannot hold; access denied). False when one may be copied by
// a later start: a file held beyond the start's time for waiting, a full disk, a share or
// cloud file offline, a folder that could not be made. A missing source has nothing to
// copy.
bool CopyTree(const Path& source, const Path& target, const Path& scratch);

}  // namespace quillmere
