#include "settings/launcher_settings.h"

#include "base/files.h"
#include "settings/settings_format.h"

namespace quillmere {

FileBytes ReadLauncherSettings(const Path& installRoot) {
  // Reading stops after the first server line; the bytes read before a failed read
  // are still searched.
  return ReadFileBytes(JoinPath(installRoot, L"settings\\launcher-settings.txt"), 4096,
                       kMostSettingsBytes, HoldsWholeServerLine);
}

std::wstring ReadInstanceName(const Path& installRoot) {
  return std::wstring(InstanceNameFromSettings(ReadLauncherSettings(installRoot).bytes));
}

}  // namespace quillmere
