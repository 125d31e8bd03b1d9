// What the player can see, and the exit codes: all in one place.
#pragma once

#include <string>

#include "base/path.h"

namespace quillmere {

inline constexpr wchar_t kMessageCaption[] = L"Vellmarrow: Quillmere";

inline constexpr wchar_t kMessageNoInstallRoot[] =
    L"Could not work out where Quillmere is installed.";
inline constexpr wchar_t kMessageUpdateNotFinished[] =
    L"An update could not be finished.\n\nA file was in use. Close Tarnvayle if it is "
    L"still running, then try again.";
inline constexpr wchar_t kMessageNotStarted[] =
    L"Quillmere could not be started.\n\nAntivirus software sometimes blocks this. "
    L"Allow the Quillmere folder and try again.";

// The missing-part message names the program path exactly as it was tested.
std::wstring MissingPartMessage(const Path& expected);

inline constexpr int kExitAfterRelaunch = 0;
inline constexpr int kExitAfterMessage = 1;

}  // namespace quillmere
