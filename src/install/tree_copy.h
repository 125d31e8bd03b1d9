// Copying a directory tree without ever replacing a file.
#pragma once

#include "base/path.h"

namespace quillmere {

// Copies `source` with everything under it to `target`, adding only what the
// target lacks. Each file is copied to `scratch` first, a name that no other
// process uses, and renamed into place only when whole, so neither a cut-off copy
// nor two stubs copying at once can leave a damaged file under a real name.
// Links to directories are neither followed nor copied. True when every file of
// the source now stands in the target; a folder that could not be listed counts
// as not in place. A missing source has nothing to copy.
bool CopyTree(const Path& source, const Path& target, const Path& scratch);

}  // namespace quillmere
