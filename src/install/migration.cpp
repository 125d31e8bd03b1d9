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
  // A question that went unanswered (a share gone for a moment) leaves the layout unrecorded,
  // so that a later start, which can tell, finishes the step.
  auto is = [&succeeded](const Path& path, PathKind want) {
    PathKind kind = KindOf(path);
    if (kind == PathKind::kUnknown) succeeded = false;
    return kind == want;
  };

  Path content = JoinPath(installRoot, L"content");
  Path live = JoinPath(installRoot, L"live");
  Path liveContent = JoinPath(live, L"content");
  if (is(content, PathKind::kFolder) && !is(liveContent, PathKind::kFolder)) {
    CreateFolder(live);
    if (!Move(content, liveContent)) succeeded = false;
  }
  if (!is(liveContent, PathKind::kFolder)) return 1;

  Path logs = JoinPath(installRoot, L"logs");
  Path liveLogs = JoinPath(live, L"logs");
  // Made anew only where there are no logs to move: a folder made after a move that failed
  // would keep the player's logs from ever moving.
  if (is(logs, PathKind::kFolder) && !is(liveLogs, PathKind::kFolder)) {
    if (!Move(logs, liveLogs)) succeeded = false;
  } else if (!is(liveLogs, PathKind::kFolder)) {
    CreateFolder(liveLogs);
    if (!is(liveLogs, PathKind::kFolder)) succeeded = false;
  }

  Path liveSettings = JoinPath(live, L"settings");
  CreateFolder(liveSettings);
  Path config = JoinPath(installRoot, L"settings\\openmw.cfg");
  Path liveConfig = JoinPath(liveSettings, L"openmw.cfg");
  if (is(config, PathKind::kFile) && !is(liveConfig, PathKind::kFile) && !Move(config, liveConfig))
    succeeded = false;
  if (!is(liveSettings, PathKind::kFolder)) succeeded = false;

  Path dev = JoinPath(installRoot, L"dev");
  if (is(dev, PathKind::kFolder)) {
    Path devSettings = JoinPath(dev, L"settings");
    Path devLogs = JoinPath(dev, L"logs");
    CreateFolder(devSettings);
    CreateFolder(devLogs);
    if (!is(devSettings, PathKind::kFolder) || !is(devLogs, PathKind::kFolder))
      return kCurrentLayoutVersion;
  }

  // Recorded only after a fully successful run; otherwise the next start tries again.
  if (succeeded) WriteInstallLayoutFile(installRoot);
  return kCurrentLayoutVersion;
}

}  // namespace quillmere
