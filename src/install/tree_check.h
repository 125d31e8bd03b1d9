// Whether a tree holds a complete, runnable copy of the game.
#pragma once

#include "base/path.h"

namespace quillmere {

// True when <root>\content\bin holds the launcher or the client and
// defaults.bin, and <root>\content\resources\vfs is a folder.
bool IsInstanceTreeComplete(const Path& root);

}  // namespace quillmere
