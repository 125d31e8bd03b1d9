// Where the stub runs from.
#pragma once

#include "base/path.h"

namespace quillmere {

// The folder that holds the running executable, or empty when it cannot be found.
Path FindInstallRoot();

}  // namespace quillmere
