// <install root>\settings\install-layout.txt: which folder layout is on disk.
#pragma once

#include <cstdint>

#include "base/path.h"

namespace quillmere {

// The recorded layout version; 1 whenever the file is missing, unreadable or
// does not begin with a number.
std::int32_t ReadInstallLayoutVersion(const Path& installRoot);

// Records the current layout. Nothing is returned: a file that could not be
// written leaves the layout unrecorded, and the next start migrates again, which
// finds every move made and records it then.
void WriteInstallLayoutFile(const Path& installRoot);

}  // namespace quillmere
