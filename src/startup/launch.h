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

struct ChildProgram {
  Path path;   // the path that was tested last
  bool found;  // whether it is a file
};

// The launcher under <content base>\content\bin, else the client.
ChildProgram ChooseChildProgram(const Path& contentBase);

// The resources folder passed with --resources.
Path ResolveResourcesDir(const Path& installRoot, const Path& instanceRoot,
                         std::int32_t layoutVersion);

// The quoted program path, the stub's own arguments and the three options.
std::wstring BuildChildCommandLine(const Path& program, const Path& instanceRoot,
                                   const Path& installRoot, const Path& resourcesDir);

struct ChildRun {
  bool started;
  std::uint32_t exitCode;  // all 32 bits, 0 when it could not be read
};

// Starts the program, waits for it without a time limit and gives its exit code.
ChildRun RunChildProgram(const Path& program, const std::wstring& commandLine,
                         const Path& workingDirectory);

}  // namespace quillmere
