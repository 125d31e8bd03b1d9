// Stands in for the launcher, the client or a stub in the end-to-end tests.
//
// Appends one record of what it received to the file named by QUILLMERE_PROBE_OUT
// (no record when the variable is unset), then exits with the code in
// QUILLMERE_PROBE_EXIT (decimal or 0x-hex, unsigned 32-bit; 0 when unset).
//
// A record is a run of UTF-16LE fields, each ended by U+0000. Arguments may hold
// any character but U+0000, so no other separator is safe:
//   "QMPROBE1", command line, current directory, module path,
//   echo ("-" when QUILLMERE_PROBE_ECHO is unset, else "+" and its value),
//   argc in decimal, then argc arguments as CommandLineToArgvW split them.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring ReadEnv(const wchar_t* name, bool* present) {
  std::wstring value(64, L'\0');
  for (;;) {
    SetLastError(0);
    DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) {
      *present = GetLastError() != ERROR_ENVVAR_NOT_FOUND;
      return {};
    }
    if (n < value.size()) {
      value.resize(n);
      *present = true;
      return value;
    }
    value.resize(n);
  }
}

std::wstring ModulePath() {
  std::wstring path(260, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring CurrentDirectory() {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  std::wstring dir(n, L'\0');
  dir.resize(GetCurrentDirectoryW(n, dir.data()));
  return dir;
}

// Unsigned 32-bit, decimal or 0x-hex; anything unreadable gives 0xBAD0BAD0 so a
// mistyped test shows up instead of passing as 0.
UINT ParseExitCode(const std::wstring& text) {
  if (text.empty()) return 0;
  bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
  unsigned long long value = 0;
  for (size_t i = hex ? 2 : 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    unsigned digit;
    if (c >= L'0' && c <= L'9') digit = c - L'0';
    else if (hex && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
    else if (hex && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
    else return 0xBAD0BAD0u;
    value = value * (hex ? 16 : 10) + digit;
    if (value > 0xFFFFFFFFull) return 0xBAD0BAD0u;
  }
  return static_cast<UINT>(value);
}

void AddField(std::wstring& record, const std::wstring& field) {
  record += field;
  record += L'\0';
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  bool present = false;
  std::wstring out = ReadEnv(L"QUILLMERE_PROBE_OUT", &present);
  if (!out.empty()) {
    std::wstring record;
    AddField(record, L"QMPROBE1");
    AddField(record, GetCommandLineW());
    AddField(record, CurrentDirectory());
    AddField(record, ModulePath());
    std::wstring echo = ReadEnv(L"QUILLMERE_PROBE_ECHO", &present);
    AddField(record, present ? L"+" + echo : L"-");
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) argc = 0;
    AddField(record, std::to_wstring(argc));
    for (int i = 0; i < argc; ++i) AddField(record, argv[i]);
    LocalFree(argv);

    // Several probes may run at once (a relaunched stub and its child); append-only
    // access makes each single write land whole at the end.
    HANDLE file = CreateFileW(out.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) ExitProcess(0xBAD0F11Eu);
    DWORD written = 0;
    DWORD bytes = static_cast<DWORD>(record.size() * sizeof(wchar_t));
    BOOL ok = WriteFile(file, record.data(), bytes, &written, nullptr);
    CloseHandle(file);
    if (!ok || written != bytes) ExitProcess(0xBAD0F11Eu);
  }
  ExitProcess(ParseExitCode(ReadEnv(L"QUILLMERE_PROBE_EXIT", &present)));
}
