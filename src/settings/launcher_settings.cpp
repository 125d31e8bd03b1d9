#include "settings/launcher_settings.h"

#include "base/files.h"
#include "settings/settings_format.h"

namespace quillmere {

std::wstring ReadInstanceName(const Path& installRoot) {
  // Reading stops after the first server line; the bytes read before a failed read
  // are still searched.
  FileBytes file = ReadFileBytes(JoinPath(installRoot, L"settings\\launcher-settings.txt"), 4096,
                                 kMostSettingsBytes, HoldsWholeServerLine);
  return std::wstring(InstanceNameFromSettings(file.bytes));
}

}  // namespace quillmere
