// Replacing the stub's own executable with a newer copy that waits in the folder.
#pragma once

#include "base/path.h"

namespace quillmere {

// True when both files could be opened and their contents differ (or a size
// query or read failed); false when they are equal or either cannot be opened.
bool FilesDiffer(const Path& a, const Path& b);

// Starts the new stub at `newStub` and tells whether it has shown that it runs; one that has
// not is ended before it returns.
using ProveNewStub = bool (*)(const Path& newStub, const Path& installRoot);

// Replaces the stub with content\bin\stub\Quillmere.exe (under the instance root, else
// under the install root) when that is a whole program for this machine and differs from
// the running one. Its checked copy, <stub>.new, must first show with `prove` that it runs,
// and only then takes the stub's name; this stub steps aside as <stub>.old. True when the
// new stub runs and carries the start on; false when nothing was replaced and nothing was
// left behind but what a later start removes. Leftovers of earlier replacements are
// removed first.
bool ReplaceStubIfNewer(const Path& installRoot, const Path& instanceRoot, ProveNewStub prove);

// Run by a new stub that the stub replacing itself started: once that one has ended, takes
// the stub's name where it was left empty (the swap could move neither stub into place, as
// a program held both files longer than it waited). This stub has shown that it runs.
void ClaimStubName();

}  // namespace quillmere
