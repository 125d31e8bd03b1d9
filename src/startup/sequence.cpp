#include "startup/sequence.h"

#include <windows.h>

#include "handover/child_program.h"
#include "handover/messages.h"
#include "install/install_root.h"
#include "install/install_root_rules.h"
#include "install/layout_file.h"
#include "install/migration.h"
#include "install/prepare.h"
#include "settings/launcher_settings.h"
#include "startup/launch.h"
#include "update/journal_replay.h"
#include "update/self_replace.h"

namespace quillmere {
namespace {

// The only way the stub speaks to the player.
void ShowError(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), kMessageCaption, MB_OK | MB_ICONERROR);
}

}  // namespace

int RunStartupSequence(bool relaunched) {
  // The stub that started this one may have left the stub's name empty for it to take.
  if (relaunched) ClaimStubName();
  Path installRoot = FindInstallRoot();
  if (installRoot.empty()) {
    ShowError(kMessageNoInstallRoot);
    return kExitAfterMessage;
  }
  // A copy of the stub started from inside an instance of the current layout would
  // take the instance for a folder of the first layout and migrate it into itself.
  // It starts what the stub above would start, and changes nothing.
  Path above = FindEnclosingInstallRoot(installRoot);
  bool insideInstance = !above.empty();
  if (insideInstance) installRoot = above;

  // Both are read before anything on disk changes.
  std::wstring instanceName = ReadInstanceName(installRoot);
  std::int32_t layoutOnDisk = ReadInstallLayoutVersion(installRoot);
  std::int32_t layoutInForce = layoutOnDisk;
  if (!insideInstance) {
    // A pending update and a waiting stub are looked for in the layout found on
    // disk; the update comes first so that it can deliver a newer stub.
    // A move that Windows refuses for another reason than a file in use is not the
    // player's to mend by closing the game: the launcher, which sees the journal
    // left, starts and can tell them more.
    Path updateRoot = InstanceRootFor(installRoot, instanceName, layoutOnDisk);
    if (ReplayUpdateJournal(updateRoot) == FileResult::kInUse) {
      ShowError(kMessageUpdateNotFinished);
      return kExitAfterMessage;
    }
    // The newest stub is the one that migrates. It takes the stub's name only once it has
    // shown that it runs; until then the name holds this one, which carries on without it.
    if (ReplaceStubIfNewer(installRoot, updateRoot, RelaunchStub)) return kExitAfterRelaunch;
    layoutInForce = MigrateInstallLayout(installRoot);
  }
  Path instanceRoot = InstanceRootFor(installRoot, instanceName, layoutInForce);
  Path contentBase = ContentBaseFor(installRoot, instanceRoot, layoutInForce);
  if (!insideInstance && IsCurrentLayout(layoutInForce)) PrepareInstance(installRoot, instanceName);

  ChildProgram program = ChooseChildProgram(contentBase);
  if (!program.found) {
    ShowError(MissingPartMessage(program.path));
    return kExitAfterMessage;
  }
  Path resourcesDir = ResolveResourcesDir(installRoot, instanceRoot, layoutInForce);
  std::wstring arguments;
  AppendStubArguments(arguments);
  std::wstring commandLine =
      BuildChildCommandLine(program.path, arguments, instanceRoot, installRoot, resourcesDir);
  ChildRun run = RunChildProgram(program.path, commandLine, ChildFolderFor(contentBase));
  if (!run.started) {
    ShowError(kMessageNotStarted);
    return kExitAfterMessage;
  }
  // All 32 bits come back unchanged, exception codes included.
  return static_cast<int>(run.exitCode);
}

}  // namespace quillmere
