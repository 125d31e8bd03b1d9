// Replacing the stub's own executable with a newer copy that waits in the folder.
#pragma once

#include "base/path.h"

namespace quillmere {

// True when both files could be opened and their contents differ (or a size
// query or read failed); false when they are equal or either cannot be opened.
bool FilesDiffer(const Path& a, const Path& b);

// Puts content\bin\stub\Quillmere.exe (under the instance root, else under the
// install root) in place of the running executable when it differs from it and is
// a whole program for this machine. True when the running executable's path now
// holds the new stub and the previous one lies beside it with ".old"; false when
// nothing was replaced.
bool ReplaceStubIfNewer(const Path& installRoot, const Path& instanceRoot);

// Undoes a replacement whose new stub did not run: the new stub steps aside, the
// running one, set aside as ".old", takes the stub's name back, and the new one is
// deleted, now or by a later start. Nothing is replaced on the way, and the name is
// left empty only when neither copy can be moved to it. Nothing is returned: whether
// or not that worked, going on with the start is all that is left to do.
void UndoStubReplacement();

}  // namespace quillmere
