// Starting the programs that the stub hands over to.
#pragma once

#include <cstdint>
#include <string>

#include "base/path.h"

namespace quillmere {

// Appends one blank and the quoted argument for each of the stub's own
// arguments, read afresh from the process command line. The program name is
// never passed on.
void AppendStubArguments(std::wstring& commandLine);

// Starts the new stub at `newStub` with the stub's own arguments and the install root as
// its working directory. True once it has shown that it runs (SignalStubRuns); false when
// it could not be started, ended without that sign, or gave none in time, and then it has
// been ended.
bool RelaunchStub(const Path& newStub, const Path& installRoot);

// The sign that a relaunched stub runs, given first thing by every stub: sets the
// event that the stub which started this process made for it, and tells whether there was
// one. On any other start there is no such event, and this is one failed open.
bool SignalStubRuns();

struct ChildRun {
  bool started;
  std::uint32_t exitCode;  // all 32 bits, 0 when it could not be read
};

// Starts the program, waits for it without a time limit and gives its exit code.
ChildRun RunChildProgram(const Path& program, const std::wstring& commandLine,
                         const Path& workingDirectory);

}  // namespace quillmere
