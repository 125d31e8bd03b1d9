// Stands in for the launcher, the client or a stub. It appends what it was given to
// the file named by QUILLMERE_PROBE_OUT, as three UTF-16 fields each ended by a
// zero character (its own path, its command line, its working folder), and exits
// with the number in QUILLMERE_PROBE_EXIT. As a new stub it shows that it runs, as
// every stub must; as "@quiet" (driver.py) it shows nothing and ends after two seconds
// with a loader status, as one held by Windows' error box would (Wine shows none).
#include <windows.h>

#include <cwchar>
#include <string>

volatile char quiet[] = "quillmere-probe-quiet:n";

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (quiet[sizeof quiet - 2] == 'y') {
    Sleep(2000);
    ExitProcess(0xC0000135);
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\Quillmere-stub-runs-%lx", GetCurrentProcessId());
  HANDLE shown = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
  if (shown) SetEvent(shown);
  wchar_t out[MAX_PATH], code[32] = L"0", self[32768], folder[32768];
  if (GetEnvironmentVariableW(L"QUILLMERE_PROBE_OUT", out, MAX_PATH)) {
    std::wstring record = std::wstring(self, GetModuleFileNameW(nullptr, self, 32768)) + L'\0' + GetCommandLineW() + L'\0' +
                          std::wstring(folder, GetCurrentDirectoryW(32768, folder)) + L'\0';
    // Append-only, so that records of probes that run at once land whole.
    HANDLE file = CreateFileW(out, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size() * 2), &written, nullptr), CloseHandle(file);
  }
  GetEnvironmentVariableW(L"QUILLMERE_PROBE_EXIT", code, 32);
  ExitProcess(static_cast<UINT>(std::wcstoul(code, nullptr, 0)));
}
