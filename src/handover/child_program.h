// What a start hands over to: the program, its command line and its folder. The stub
// starts it; the check tells it beforehand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/path.h"

namespace quillmere {

struct ChildProgram {
  Path path;   // the path that was tested last
  bool found;  // whether it is a file
};

// The launcher under <content base>\content\bin, else the client.
ChildProgram ChooseChildProgram(const Path& contentBase);

// The folder the child program runs in.
inline Path ChildFolderFor(const Path& contentBase) {
  return JoinPath(contentBase, L"content\\bin");
}

// The resources folder passed with --resources.
Path ResolveResourcesDir(const Path& installRoot, const Path& instanceRoot,
                         std::int32_t layoutVersion);

// The quoted program path, the stub's own arguments (`stubArguments`, each already
// quoted after a blank) and the three options.
std::wstring BuildChildCommandLine(const Path& program, const std::wstring& stubArguments,
                                   const Path& instanceRoot, const Path& installRoot,
                                   const Path& resourcesDir);

// The new stub's command line: its quoted path and the stub's own arguments.
std::wstring BuildRelaunchCommandLine(const Path& newStub, const std::wstring& stubArguments);

}  // namespace quillmere
