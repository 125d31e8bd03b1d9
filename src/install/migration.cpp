#include "install/migration.h"

#include "base/files.h"
#include "install/install_root_rules.h"
#include "install/layout_file.h"

namespace quillmere {

namespace {

// Never replaces: an existing target makes the move fail.
bool Move(const Path& from, const Path& to) { return MovePath(from, to, 0) == FileResult::kDone; }

// Whether `path` is of the kind `want`. A question that went unanswered (a share gone for a
// moment) clears `answered`, which leaves the layout unrecorded, so that a later start, which
// can tell, finishes the step.
bool Is(const Path& path, PathKind want, bool& answered) {
  PathKind kind = KindOf(path);
  if (kind == PathKind::kUnknown) answered = false;
  return kind == want;
}

}  // namespace

MigrationPlan PlanInstallLayoutMigration(const Path& installRoot) {
  Path live = JoinPath(installRoot, L"live");
  MigrationPlan plan;
  bool& answered = plan.answered;
  // No step changes what a later one tests, so every test may come before the first move.
  plan.moveContent = Is(JoinPath(installRoot, L"content"), PathKind::kFolder, answered) &&
                     !Is(JoinPath(live, L"content"), PathKind::kFolder, answered);
  plan.moveLogs = Is(JoinPath(installRoot, L"logs"), PathKind::kFolder, answered) &&
                  !Is(JoinPath(live, L"logs"), PathKind::kFolder, answered);
  plan.moveConfig = Is(JoinPath(installRoot, L"settings\\openmw.cfg"), PathKind::kFile, answered) &&
                    !Is(JoinPath(live, L"settings\\openmw.cfg"), PathKind::kFile, answered);
  plan.hasDev = Is(JoinPath(installRoot, L"dev"), PathKind::kFolder, answered);
  return plan;
}

std::int32_t MigrateInstallLayout(const Path& installRoot) {
  std::int32_t recorded = ReadInstallLayoutVersion(installRoot);
  if (IsCurrentLayout(recorded)) return recorded;
  MigrationPlan plan = PlanInstallLayoutMigration(installRoot);
  bool succeeded = plan.answered;

  Path content = JoinPath(installRoot, L"content");
  Path live = JoinPath(installRoot, L"live");
  Path liveContent = JoinPath(live, L"content");
  if (plan.moveContent) {
    CreateFolder(live);
    if (!Move(content, liveContent)) succeeded = false;
  }
  if (!Is(liveContent, PathKind::kFolder, succeeded)) return 1;

  Path logs = JoinPath(installRoot, L"logs");
  Path liveLogs = JoinPath(live, L"logs");
  // Made anew only where there are no logs to move: a folder made after a move that failed
  // would keep the player's logs from ever moving.
  if (plan.moveLogs) {
    if (!Move(logs, liveLogs)) succeeded = false;
  } else if (!Is(liveLogs, PathKind::kFolder, succeeded)) {
    CreateFolder(liveLogs);
    if (!Is(liveLogs, PathKind::kFolder, succeeded)) succeeded = false;
  }

  Path liveSettings = JoinPath(live, L"settings");
  CreateFolder(liveSettings);
  Path config = JoinPath(installRoot, L"settings\\openmw.cfg");
  Path liveConfig = JoinPath(liveSettings, L"openmw.cfg");
  if (plan.moveConfig && !Move(config, liveConfig)) succeeded = false;
  if (!Is(liveSettings, PathKind::kFolder, succeeded)) succeeded = false;

  Path dev = JoinPath(installRoot, L"dev");
  if (plan.hasDev) {
    Path devSettings = JoinPath(dev, L"settings");
    Path devLogs = JoinPath(dev, L"logs");
    CreateFolder(devSettings);
    CreateFolder(devLogs);
    if (!Is(devSettings, PathKind::kFolder, succeeded) ||
        !Is(devLogs, PathKind::kFolder, succeeded)) {
      return kCurrentLayoutVersion;
    }
  }

  // Recorded only after a fully successful run; otherwise the next start tries again.
  if (succeeded) WriteInstallLayoutFile(installRoot);
  return kCurrentLayoutVersion;
}

}  // namespace quillmere
