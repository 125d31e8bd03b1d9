#include "startup/launch.h"

#include <windows.h>
#include <shellapi.h>

#include "base/files.h"
#include "base/handle.h"
#include "install/install_root_rules.h"
#include "startup/command_line.h"
#include "update/stub_image.h"

namespace quillmere {

namespace {

// Long enough for Windows to load a program or give up on it.
constexpr DWORD kLoadCheckMs = 1000;

struct StartedProcess {
  // Declared so that the thread handle is closed before the process handle.
  UniqueProcessHandle process;
  UniqueProcessHandle thread;
};

// Under Wine, which players also run the game with, a start fails now and then with
// ERROR_INTERNAL_ERROR: the new process died before any of its code ran, for no
// lasting reason. Such a start is tried again, as is one that meets the program
// held for a moment (a scanner looking at a launcher just copied).
constexpr int kStartAttempts = 3;

// The command line must be writable for CreateProcessW, hence the copy.
bool StartProcess(const wchar_t* application, std::wstring commandLine,
                  const Path& workingDirectory, StartedProcess& started) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::uint32_t pause = 0;
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       workingDirectory.c_str(), &startup, &info)) {
      break;
    }
    if (GetLastError() == ERROR_INTERNAL_ERROR && attempt < kStartAttempts) continue;
    if (!FailedOnFileInUse(application ? application : L"") || !PauseBeforeRetry(pause)) {
      return false;
    }
  }
  started.process = UniqueProcessHandle(info.hProcess);
  started.thread = UniqueProcessHandle(info.hThread);
  return true;
}

}  // namespace

void AppendStubArguments(std::wstring& commandLine) {
  const wchar_t* own = GetCommandLineW();
  if (!HasArgumentsAfterProgramName(own)) return;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(own, &count);
  if (arguments == nullptr) return;
  if (count > 1) {
    AppendQuotedArguments(commandLine,
                          std::span<const wchar_t* const>(arguments + 1, count - 1));
  }
  LocalFree(arguments);
}

bool RelaunchStub(const Path& installRoot) {
  std::wstring commandLine = QuoteArgument(GetExecutablePath());
  AppendStubArguments(commandLine);
  StartedProcess started;
  if (!StartProcess(nullptr, std::move(commandLine), FolderArgument(installRoot), started)) return false;
  // A new stub that passed every check may still die while Windows loads it (a DLL
  // it imports exists nowhere); it does so at once.
  if (WaitForSingleObject(started.process.get(), kLoadCheckMs) != WAIT_OBJECT_0) return true;
  DWORD exitCode = 0;
  return !GetExitCodeProcess(started.process.get(), &exitCode) || !IsLoaderFailure(exitCode);
}

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

std::wstring BuildChildCommandLine(const Path& program, const Path& instanceRoot,
                                   const Path& installRoot, const Path& resourcesDir) {
  std::wstring commandLine = QuoteArgument(program);
  AppendStubArguments(commandLine);
  AppendChildOptions(commandLine, instanceRoot, installRoot, resourcesDir);
  return commandLine;
}

ChildRun RunChildProgram(const Path& program, const std::wstring& commandLine,
                         const Path& workingDirectory) {
  StartedProcess started;
  if (!StartProcess(program.c_str(), commandLine, workingDirectory, started)) return {false, 0};
  WaitForSingleObject(started.process.get(), INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(started.process.get(), &exitCode);
  return {true, exitCode};
}

}  // namespace quillmere
