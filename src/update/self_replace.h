// Replacing the stub's own executable with a newer copy that waits in the folder.
#pragma once

#include "base/path.h"

namespace quillmere {

// What stands where a new stub may wait.
enum class Candidate {
  kAbsent,     // nothing, or no whole program for this machine
  kBusy,       // held by another program, perhaps still writing it
  kStartable,  // a whole program, signed whole or not signed
};

// What stands at `path`.
Candidate CheckCandidate(const Path& path);

// Where a new stub waits under `root`: content\bin\stub\Quillmere.exe.
Path StubCandidatePath(const Path& root);

// That under the instance root, else, when that is absent,
// under the install root; `found` says what stands there.
Path FindStubCandidate(const Path& installRoot, const Path& instanceRoot, Candidate& found);

// Whether the candidate takes the place of the stub `running`: whole, and other bytes.
bool IsNewStub(Candidate found, const Path& candidate, const Path& running);

// Calls visit(leftover) for what earlier replacements left beside `stub` that a start
// removes: stubs set aside, and new stubs that never took the name.
void ForEachStubLeftover(const Path& stub, void (*visit)(const Path& leftover));

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
