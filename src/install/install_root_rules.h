// The install root is the folder that holds the stub's own executable.
#pragma once

#include <string_view>

#include "startup/common.h"

// Everything before the last backslash of `executablePath`; empty when there is
// none. Forward slashes are not separators here.
Path InstallRootOf(std::wstring_view executablePath);
