// Where the stub runs from.
#pragma once

#include "startup/common.h"

// The full path of the running executable, or empty when the system cannot give it.
Path GetExecutablePath();

// The folder that holds the running executable, or empty when it cannot be found.
Path FindInstallRoot();
