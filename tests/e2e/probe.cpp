// Stands in for the launcher, the client or a new stub. As a new stub it shows that it
// runs, as every stub must. It writes what it was given to a file of its own in the
// folder that QUILLMERE_PROBE_OUT names: its path, its command line, its working folder
// and its arguments as the system splits them, in UTF-16, each ended by a zero
// character. Then it ends with the number in QUILLMERE_PROBE_EXIT. Made quiet (e2e.py's
// "@quiet"), it shows nothing and ends after two seconds with a loader status, as one
// that Windows holds in its error box would (Wine shows none).
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

volatile char quiet[] = "quillmere-probe-quiet:n";
wchar_t text[32768];

void Append(std::wstring& record, const wchar_t* field) {
  record += field;
  record += L'\0';
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (quiet[sizeof quiet - 2] == 'y') {
    Sleep(2000);
    ExitProcess(0xC0000135);
  }
  std::swprintf(text, 64, L"Local\\Quillmere-stub-runs-%lx", GetCurrentProcessId());
  HANDLE runs = OpenEventW(EVENT_MODIFY_STATE, FALSE, text);
  if (runs) SetEvent(runs);
  wchar_t folder[MAX_PATH];
  if (GetEnvironmentVariableW(L"QUILLMERE_PROBE_OUT", folder, MAX_PATH)) {
    std::wstring record;
    GetModuleFileNameW(nullptr, text, 32768);
    Append(record, text);
    Append(record, GetCommandLineW());
    GetCurrentDirectoryW(32768, text);
    Append(record, text);
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; i < count; ++i) Append(record, arguments[i]);
    // A file of its own, so that probes that run at once cannot mix their records.
    GetTempFileNameW(folder, L"p", 0, text);
    HANDLE file = CreateFileW(text, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size() * 2), &written, nullptr);
    CloseHandle(file);
  }
  wchar_t code[32] = L"0";
  GetEnvironmentVariableW(L"QUILLMERE_PROBE_EXIT", code, 32);
  ExitProcess(static_cast<UINT>(std::wcstoul(code, nullptr, 0)));
}
