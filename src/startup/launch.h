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

// Starts the running executable's file (a freshly installed stub) with the
// stub's own arguments and the install root as its working directory. True when it
// was started and did not die in its first moments with a status of Windows'
// loader; a healthy new stub is not waited for beyond that.
bool RelaunchStub(const Path& installRoot);

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
