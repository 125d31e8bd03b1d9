// What the next start of the stub will do with a folder, and why, found by the stub's own
// rules without changing anything.
#pragma once

#include <string_view>

#include "base/path.h"
#include "check/report_format.h"

namespace quillmere {

// The check's exit status.
inline constexpr int kCheckLaunches = 0;     // the start reaches the launcher
inline constexpr int kCheckMessage = 1;      // the start stops with a message
inline constexpr int kCheckNeedsPerson = 2;  // something a start can never mend
inline constexpr int kCheckUnreadable = 3;   // the folder cannot be read

struct Forecast {
  ReportItem report;
  int status = kCheckLaunches;
};

// What the stub `stub` (a path in `folder`) will do when started with `stubArguments`
// (each quoted after a blank, as the stub passes them on). Under `requireSignature` an
// unsigned new stub needs a person.
Forecast ForecastStart(const Path& folder, const Path& stub, const std::wstring& stubArguments,
                       bool requireSignature);

}  // namespace quillmere
