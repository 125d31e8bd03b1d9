// Which instance the player chose in the launcher.
#pragma once

#include <string>

#include "base/files.h"
#include "base/path.h"

namespace quillmere {

// As much of <install root>\\settings\\launcher-settings.txt as the choice needs.
FileBytes ReadLauncherSettings(const Path& installRoot);

// "live" or "dev", read from <install root>\settings\launcher-settings.txt.
// Never fails: a missing, unreadable or unrecognised file means "live".
std::wstring ReadInstanceName(const Path& installRoot);

}  // namespace quillmere
