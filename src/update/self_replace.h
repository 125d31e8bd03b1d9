// Replacing the stub's own executable with a newer copy that waits in the folder.
#pragma once

#include "base/path.h"

namespace quillmere {

// True when both files could be opened and their contents differ (or a size
// query or read failed); false when they are equal or either cannot be opened.
bool FilesDiffer(const Path& a, const Path& b);

// Puts content\bin\stub\Quillmere.exe (under the instance root, else under the
// install root) in place of the running executable when it differs from it. True
// when the running executable's path now holds the new stub and the previous
// one lies beside it with ".old"; false when nothing was replaced.
bool ReplaceStubIfNewer(const Path& installRoot, const Path& instanceRoot);

// ReplaceStubIfNewer for the executable at `own`.
bool ReplaceStubFile(const Path& own, const Path& installRoot, const Path& instanceRoot);

// Puts the checked copy <own>.new in place of <own>, which steps aside to
// <own>.old. When the copy cannot take its place (an antivirus may have taken it
// away meanwhile), <own> is moved back. True when <own> is now the copy.
bool SwapInStubCopy(const Path& own);

}  // namespace quillmere
