// Whether a tree holds a complete, runnable copy of the game.
#pragma once

#include "base/path.h"

namespace quillmere {

// What an instance's tree lacks, one bit each.
inline constexpr unsigned kLacksProgram = 1;    // the launcher and the client
inline constexpr unsigned kLacksDefaults = 2;   // content\bin\defaults.bin
inline constexpr unsigned kLacksResources = 4;  // content\resources\vfs

unsigned FindInstanceTreeGaps(const Path& root);

// True when <root>\content\bin holds the launcher or the client and
// defaults.bin, and <root>\content\resources\vfs is a folder.
bool IsInstanceTreeComplete(const Path& root);

}  // namespace quillmere
