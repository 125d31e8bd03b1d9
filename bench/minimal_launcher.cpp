// The baseline for the stub's start-up cost: the least a launcher stub can do.
// Starts <own folder>\live\content\bin\QuillmereLauncher.exe in its own folder,
// waits for it and ends with its exit code. Fixed buffers and no C++ library, so
// whatever the stub costs beyond this is the stub's own.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static wchar_t program[MAX_PATH + 64], folder[MAX_PATH + 64], commandLine[MAX_PATH + 68];
  DWORD n = GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  *std::wcsrchr(folder, L'\\') = L'\0';
  std::wcscat(folder, L"\\live\\content\\bin");
  std::wcscpy(program, folder);
  std::wcscat(program, L"\\QuillmereLauncher.exe");
  std::swprintf(commandLine, MAX_PATH + 68, L"\"%ls\"", program);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                      &info)) {
    return 1;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(info.hProcess, &exitCode);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<int>(exitCode);
}
