// Making sure the chosen instance has a tree before anything is started.
#pragma once

#include <string_view>

#include "base/path.h"

namespace quillmere {

// The folder that marks a fill of the instance that is not settled yet.
Path FillMarkOf(const Path& instanceRoot);

// Whether the instance is to be filled: it is incomplete, or an earlier fill is not settled.
bool InstanceNeedsFill(const Path& instanceRoot);

// The other instance, which a fill copies from; empty when it has no content\\bin.
Path FillSourceFor(const Path& installRoot, std::wstring_view instanceName);

// Fills <install root>\<instance name> from the other instance when it is
// incomplete or an earlier fill did not put every file in place: creates its
// folders and copies the other instance's content\bin and content\resources
// without replacing any file. Any number of stubs may fill one instance at once.
// Reports nothing; a missing program shows when it is looked for.
void PrepareInstance(const Path& installRoot, std::wstring_view instanceName);

}  // namespace quillmere
