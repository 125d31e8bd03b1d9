// Bringing a folder of the first layout to the current one.
#pragma once

#include <cstdint>

#include "base/path.h"

namespace quillmere {

// What a migration of the first layout finds to do, all tested before it moves anything.
struct MigrationPlan {
  bool moveContent = false;  // content into live\content
  bool moveLogs = false;     // logs into live\logs
  bool moveConfig = false;   // settings\openmw.cfg into live\settings
  bool hasDev = false;       // dev gets its settings and logs folders
  bool answered = true;      // false when a question went unanswered: nothing is recorded
};

MigrationPlan PlanInstallLayoutMigration(const Path& installRoot);

// Moves content, logs and settings\openmw.cfg of the first layout under
// <install root>\live, gives dev its settings and logs folders, and records the
// current layout once every step succeeded. Every step tests before it acts, so
// an interrupted run is finished by the next one. Returns the layout version in
// force: the recorded one when it is already current, 2 once
// <install root>\live\content exists, else 1.
std::int32_t MigrateInstallLayout(const Path& installRoot);

}  // namespace quillmere
