// Copying a directory tree without ever replacing a file.
#pragma once

#include "base/path.h"

namespace quillmere {

// Copies `source` with everything under it to `target`, adding only what the target lacks.
// A folder that the target lacks is built whole in `build` (mirroring `target`, in a folder
// of this start's own inside `scratch`) and renamed into place in one step where its place
// lies on the volume of `scratch`: it appears whole or not at all, and one that cannot be
// finished now, for a file held or an error that passes, waits there for a later start,
// which keeps its whole copies. In a folder that the target has, each file is copied under
// a name of this start's own, in `scratch` where that folder lies on the target folder's
// volume, else in a folder of this start's own beside the target, and renamed into place
// only when whole. So neither a cut-off copy nor two stubs copying at once can leave a
// damaged file under a real name, and no file is replaced. `scratch` and `build` may be
// empty: every copy is then made beside its target, or no folder is built. Links to
// directories are neither followed nor copied, and neither are the source's entries named
// as copies in progress (ScratchName), which a cut-off move may have left there. True when
// the copy is settled: every file of the source stands in the target or can never be copied
// there (a folder where the source has a file, or the reverse; a name the volume cannot
// hold; access denied). False when one may be copied by a later start: a file held beyond
// the start's time for waiting, a full disk, a share or cloud file offline, a folder that
// could not be made or waits. A missing source has nothing to copy.
bool CopyTree(const Path& source, const Path& target, const Path& scratch, const Path& build);

// This start's own folder in `scratch` for the folders that CopyTree builds. The trees that
// ended starts left there are taken over, each by one rename that only one start can win:
// the first becomes this start's, for its whole copies to be used again; the others go.
// The folder is made when CopyTree needs it.
Path TakeOverScratchTrees(const Path& scratch);

}  // namespace quillmere
