#include "handover/child_program.h"

#include "base/files.h"
#include "handover/command_line.h"
#include "install/install_root_rules.h"

namespace quillmere {

ChildProgram ChooseChildProgram(const Path& contentBase) {
  Path program = JoinPath(contentBase, L"content\\bin\\QuillmereLauncher.exe");
  if (!IsFile(program)) program = JoinPath(contentBase, L"content\\bin\\QuillmereClient.exe");
  bool found = IsFile(program);
  return {std::move(program), found};
}

Path ResolveResourcesDir(const Path& installRoot, const Path& instanceRoot,
                         std::int32_t layoutVersion) {
  Path own = JoinPath(instanceRoot, L"content\\resources");
  if (IsCurrentLayout(layoutVersion) || IsDirectory(JoinPath(own, L"vfs"))) return own;
  return JoinPath(installRoot, L"content\\resources");
}

std::wstring BuildChildCommandLine(const Path& program, const std::wstring& stubArguments,
                                   const Path& instanceRoot, const Path& installRoot,
                                   const Path& resourcesDir) {
  std::wstring commandLine = BuildRelaunchCommandLine(program, stubArguments);
  AppendChildOptions(commandLine, instanceRoot, installRoot, resourcesDir);
  return commandLine;
}

std::wstring BuildRelaunchCommandLine(const Path& newStub, const std::wstring& stubArguments) {
  std::wstring commandLine = QuoteArgument(newStub);
  commandLine += stubArguments;
  return commandLine;
}

}  // namespace quillmere
