// Copying a directory tree without ever replacing a file.
#pragma once

#include <string_view>

#include "base/path.h"

namespace quillmere {

// A file being copied stands under this name in its target folder until it is
// whole and renamed into place.
inline constexpr std::wstring_view kPartialCopyName = L".quillmere-partial";

// Copies `source` with everything under it to `target`, adding only what the
// target lacks. Best effort: nothing stops the walk and nothing is reported.
// Links to directories are neither followed nor copied.
void CopyTree(const Path& source, const Path& target);

}  // namespace quillmere
