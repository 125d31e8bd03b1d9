// Stands in for the launcher, the client or a stub. It appends what it was given to
// the file named by QUILLMERE_PROBE_OUT, as three UTF-16 fields each ended by a
// zero character (its own path, its command line, its working folder), and exits
// with the number in QUILLMERE_PROBE_EXIT.
//
// Built as a DLL (QUILLMERE_PLANTED), it is a library planted beside the stub: on
// load it leaves "<its own path>.ran" and refuses to stay loaded.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring OwnPath(HMODULE module) {
  wchar_t path[32768];
  return std::wstring(path, GetModuleFileNameW(module, path, 32768));
}

}  // namespace

#ifdef QUILLMERE_PLANTED
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    CloseHandle(CreateFileW((OwnPath(self) + L".ran").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  return FALSE;
}
#else
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t out[32768], code[32] = L"0", folder[32768];
  if (GetEnvironmentVariableW(L"QUILLMERE_PROBE_OUT", out, 32768)) {
    GetCurrentDirectoryW(32768, folder);
    std::wstring record = OwnPath(nullptr) + L'\0' + GetCommandLineW() + L'\0' + folder + L'\0';
    // Append-only, so that records of probes that run at once land whole.
    HANDLE file = CreateFileW(out, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size() * 2), &written, nullptr);
    CloseHandle(file);
  }
  GetEnvironmentVariableW(L"QUILLMERE_PROBE_EXIT", code, 32);
  ExitProcess(static_cast<UINT>(std::wcstoul(code, nullptr, 0)));
}
#endif
