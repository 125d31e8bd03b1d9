#include "install/migration.h"

#include "base/files.h"
#include "install/install_root_rules.h"
#include "install/layout_file.h"

namespace quillmere {

namespace {

// Never replaces: an existing target makes the move fail.
bool Move(const Path& from, const Path& to) { return MovePath(from, to, 0) == FileResult::kDone; }

}  // namespace

std::int32_t MigrateInstallLayout(const Path& installRoot) {
  std::int32_t recorded = ReadInstallLayoutVersion(installRoot);
  if (IsCurrentLayout(recorded)) return recorded;
  bool succeeded = true;

  Path content = JoinPath(installRoot, L"content");
  Path live = JoinPath(installRoot, L"live");
  Path liveContent = JoinPath(live, L"content");
  if (IsDirectory(content) && !IsDirectory(liveContent)) {
    CreateFolder(live);
    if (!Move(content, liveContent)) succeeded = false;
  }
  if (!IsDirectory(liveContent)) return 1;

  Path logs = JoinPath(installRoot, L"logs");
  Path liveLogs = JoinPath(live, L"logs");
  if (IsDirectory(logs) && !IsDirectory(liveLogs) && !Move(logs, liveLogs)) succeeded = false;
  if (!IsDirectory(liveLogs)) {
    CreateFolder(liveLogs);
    if (!IsDirectory(liveLogs)) succeeded = false;
  }

  Path liveSettings = JoinPath(live, L"settings");
  CreateFolder(liveSettings);
  Path config = JoinPath(installRoot, L"settings\\openmw.cfg");
  Path liveConfig = JoinPath(liveSettings, L"openmw.cfg");
  if (IsFile(config) && !IsFile(liveConfig) && !Move(config, liveConfig)) succeeded = false;
  if (!IsDirectory(liveSettings)) succeeded = false;

  Path dev = JoinPath(installRoot, L"dev");
  if (IsDirectory(dev)) {
    Path devSettings = JoinPath(dev, L"settings");
    Path devLogs = JoinPath(dev, L"logs");
    CreateFolder(devSettings);
    CreateFolder(devLogs);
    if (!IsDirectory(devSettings) || !IsDirectory(devLogs)) return kCurrentLayoutVersion;
  }

  // Recorded only after a fully successful run; otherwise the next start tries again.
  if (succeeded) WriteInstallLayoutFile(installRoot);
  return kCurrentLayoutVersion;
}

}  // namespace quillmere
