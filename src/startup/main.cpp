// Quillmere.exe: puts the game's folder in order and hands over to the launcher.
#include <windows.h>

#include <cstdlib>

#include "startup/start_up.h"

// The parameters are not used: the stub's own arguments are read from the
// process command line, so they reach the started program split and quoted anew.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return RunStartUp(); }

// A GUI program has nowhere to print why it terminates, and the runtime's own
// handler would bring the whole C++ name demangler (about 70 KB) into the stub.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
