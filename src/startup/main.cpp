// Quillmere.exe: puts the game's folder in order and hands over to the launcher.
#include <windows.h>

#include "startup/launch.h"
#include "startup/sequence.h"

// The parameters are not used: the stub's own arguments are read from the
// process command line, so they reach the started program split and quoted anew.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A stub that replaced itself waits for this sign, and takes its name back from a new
  // stub that never gives it. It comes before anything else: what it tells is that the
  // program loaded and its code runs.
  bool relaunched = quillmere::SignalStubRuns();
  // Libraries load from the system folder only, before anything may load one: other
  // files land in the download folder beside the stub, and none of them may run in it.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return quillmere::RunStartupSequence(relaunched);
}
