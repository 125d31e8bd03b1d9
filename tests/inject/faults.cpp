// A library that answers the calls of the real Quillmere.exe as Windows answers them where
// Wine never does, as Application Verifier's fault injection does. Loaded into the stub
// before its first instruction (inject.h), it rewrites the stub's imports from KERNEL32 and
// fails chosen calls with chosen errors; a new stub that the stub starts gets it too.
// Nothing of it is in the stub.
//
//   QUILLMERE_FAULTS      rules separated by "&", each PROCESS|FUNCTION|PATH|ERROR|AFTER|TIMES:
//                         PROCESS "s" the stub, "n" a new stub still named <stub>.new, "*"
//                         either; FUNCTION a call's name, "*" any; PATH a part of a path that
//                         the call names, empty for any call. Of the calls that match, the
//                         first AFTER go through and the next TIMES (0: all) fail with ERROR.
//                         "ERROR!" is a refusal that lasts: every later call that names the
//                         same file fails so too. "extended" makes GetModuleFileNameW answer
//                         with the extended-length form; "kill" ends the process at the call,
//                         as a kill from outside that lands there.
//   QUILLMERE_FAULTS_LOG  a file that gets a line for each call, in UTF-16: PROCESS, FUNCTION,
//                         where in the exe it comes from (Site) and the paths, tab-separated.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "inject.h"

namespace {

// Answers that are no error codes: the own path in its extended-length form, and a kill.
constexpr DWORD kExtended = 0xE0000001;
constexpr DWORD kKill = 0xE0000002;

struct Rule {
  wchar_t process;
  std::wstring function;
  std::wstring path;
  DWORD error;
  bool lasting;
  unsigned after;
  unsigned times;
  unsigned seen;
};

struct Refusal {
  std::wstring path;
  DWORD error;
};

std::vector<Rule> rules;
std::vector<Refusal> refusals;
wchar_t process = L's';
HANDLE journal = INVALID_HANDLE_VALUE;
// Wine does not keep the appends of two processes apart as Windows does: two stubs that log
// at once would write over each other's lines. A lock of the log's own keeps them apart.
HANDLE journalLock = nullptr;
wchar_t library[MAX_PATH];

// Where in the exe a call comes from: the return addresses of the three innermost frames
// that lie in the exe, as offsets from its start, so that one helper's call made on behalf
// of different callers counts as different sites.
std::wstring Site() {
  auto base = reinterpret_cast<char*>(GetModuleHandleW(nullptr));
  auto headers = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  char* end = base + headers->OptionalHeader.SizeOfImage;
  void* frames[32];
  USHORT count = RtlCaptureStackBackTrace(0, 32, frames, nullptr);
  std::wstring site;
  for (USHORT i = 0; i < count && std::count(site.begin(), site.end(), L':') < 3; ++i) {
    char* at = static_cast<char*>(frames[i]);
    wchar_t offset[24];
    std::swprintf(offset, 24, L"%llx:", static_cast<unsigned long long>(at - base));
    if (at >= base && at < end) site += offset;
  }
  return site;
}

void Log(const wchar_t* function, const wchar_t* path, const wchar_t* other) {
  if (journal == INVALID_HANDLE_VALUE) return;
  std::wstring line = std::wstring(1, process) + L"\t" + function + L"\t" + Site();
  if (path) line += std::wstring(L"\t") + path;
  if (other) line += std::wstring(L"\t") + other;
  line += L"\n";
  DWORD written = 0;
  WaitForSingleObject(journalLock, INFINITE);
  WriteFile(journal, line.data(), static_cast<DWORD>(line.size() * 2), &written, nullptr);
  ReleaseMutex(journalLock);
}

// Whether the program at `path` is a new stub, still named <stub>.new or a spare of it.
bool IsNewStub(const wchar_t* path) {
  std::size_t length = path ? std::wcslen(path) : 0;
  return length > 4 && _wcsicmp(path + length - 4, L".new") == 0;
}

bool Names(const wchar_t* path, const std::wstring& part) {
  return part.empty() || (path != nullptr && std::wcsstr(path, part.c_str()) != nullptr);
}

bool Same(const wchar_t* path, const std::wstring& refused) {
  return path != nullptr && _wcsicmp(path, refused.c_str()) == 0;
}

// The error with which this call fails, 0 when it goes through.
DWORD Fault(const wchar_t* function, const wchar_t* path, const wchar_t* other) {
  Log(function, path, other);
  DWORD error = 0;
  for (const Refusal& refusal : refusals) {
    if (Same(path, refusal.path) || Same(other, refusal.path)) error = refusal.error;
  }
  for (Rule& rule : rules) {
    bool ours = rule.process == L'*' || rule.process == process;
    bool named = rule.function == L"*" || rule.function == function;
    if (!ours || !named || !(Names(path, rule.path) || Names(other, rule.path))) continue;
    rule.seen += 1;
    bool fails =
        rule.seen > rule.after && (rule.times == 0 || rule.seen <= rule.after + rule.times);
    if (!fails) continue;
    error = rule.error;
    if (error == kKill) TerminateProcess(GetCurrentProcess(), 9);
    for (const wchar_t* named_file : {path, other}) {
      if (rule.lasting && named_file != nullptr) refusals.push_back({named_file, error});
    }
  }
  return error;
}

bool Fails(const wchar_t* function, const wchar_t* path, const wchar_t* other = nullptr) {
  DWORD error = Fault(function, path, other);
  if (error != 0) SetLastError(error);
  return error != 0;
}

HANDLE WINAPI OnCreateFileW(const wchar_t* path, DWORD access, DWORD share,
                            SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                            HANDLE model) {
  if (Fails(L"CreateFileW", path)) return INVALID_HANDLE_VALUE;
  return CreateFileW(path, access, share, security, disposition, flags, model);
}

BOOL WINAPI OnCopyFileW(const wchar_t* from, const wchar_t* to, BOOL failIfExists) {
  return !Fails(L"CopyFileW", from, to) && CopyFileW(from, to, failIfExists);
}

BOOL WINAPI OnMoveFileExW(const wchar_t* from, const wchar_t* to, DWORD flags) {
  return !Fails(L"MoveFileExW", from, to) && MoveFileExW(from, to, flags);
}

BOOL WINAPI OnDeleteFileW(const wchar_t* path) {
  return !Fails(L"DeleteFileW", path) && DeleteFileW(path);
}

BOOL WINAPI OnCreateDirectoryW(const wchar_t* path, SECURITY_ATTRIBUTES* security) {
  return !Fails(L"CreateDirectoryW", path) && CreateDirectoryW(path, security);
}

BOOL WINAPI OnRemoveDirectoryW(const wchar_t* path) {
  return !Fails(L"RemoveDirectoryW", path) && RemoveDirectoryW(path);
}

DWORD WINAPI OnGetFileAttributesW(const wchar_t* path) {
  if (Fails(L"GetFileAttributesW", path)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(path);
}

BOOL WINAPI OnSetFileAttributesW(const wchar_t* path, DWORD attributes) {
  return !Fails(L"SetFileAttributesW", path) && SetFileAttributesW(path, attributes);
}

HANDLE WINAPI OnFindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* entry) {
  if (Fails(L"FindFirstFileW", pattern)) return INVALID_HANDLE_VALUE;
  return FindFirstFileW(pattern, entry);
}

BOOL WINAPI OnFindNextFileW(HANDLE find, WIN32_FIND_DATAW* entry) {
  return !Fails(L"FindNextFileW", nullptr) && FindNextFileW(find, entry);
}

BOOL WINAPI OnReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* at) {
  return !Fails(L"ReadFile", nullptr) && ReadFile(file, buffer, size, read, at);
}

BOOL WINAPI OnGetFileSizeEx(HANDLE file, LARGE_INTEGER* size) {
  return !Fails(L"GetFileSizeEx", nullptr) && GetFileSizeEx(file, size);
}

BOOL WINAPI OnGetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  return !Fails(L"GetFileInformationByHandle", nullptr) && GetFileInformationByHandle(file, info);
}

BOOL WINAPI OnGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info,
                                           DWORD size) {
  return !Fails(L"GetFileInformationByHandleEx", nullptr) &&
         GetFileInformationByHandleEx(file, kind, info, size);
}

BOOL WINAPI OnCreateProcessW(const wchar_t* application, wchar_t* line,
                             SECURITY_ATTRIBUTES* processSecurity,
                             SECURITY_ATTRIBUTES* threadSecurity, BOOL inherit, DWORD flags,
                             void* environment, const wchar_t* folder, STARTUPINFOW* startup,
                             PROCESS_INFORMATION* started) {
  if (Fails(L"CreateProcessW", application)) return FALSE;
  BOOL made = CreateProcessW(application, line, processSecurity, threadSecurity, inherit, flags,
                             environment, folder, startup, started);
  // A new stub is answered as its parent is; the launcher runs as it is.
  if (made && IsNewStub(application)) InjectLibrary(started->hProcess, library);
  return made;
}

DWORD WINAPI OnResumeThread(HANDLE thread) {
  return Fails(L"ResumeThread", nullptr) ? static_cast<DWORD>(-1) : ResumeThread(thread);
}

HANDLE WINAPI OnOpenProcess(DWORD access, BOOL inherit, DWORD id) {
  return Fails(L"OpenProcess", nullptr) ? nullptr : OpenProcess(access, inherit, id);
}

BOOL WINAPI OnGetProcessTimes(HANDLE target, FILETIME* created, FILETIME* ended, FILETIME* kernel,
                              FILETIME* user) {
  return !Fails(L"GetProcessTimes", nullptr) &&
         GetProcessTimes(target, created, ended, kernel, user);
}

HANDLE WINAPI OnCreateEventW(SECURITY_ATTRIBUTES* security, BOOL manual, BOOL set,
                             const wchar_t* name) {
  return Fails(L"CreateEventW", name) ? nullptr : CreateEventW(security, manual, set, name);
}

HANDLE WINAPI OnOpenEventW(DWORD access, BOOL inherit, const wchar_t* name) {
  return Fails(L"OpenEventW", name) ? nullptr : OpenEventW(access, inherit, name);
}

DWORD WINAPI OnGetModuleFileNameW(HMODULE module, wchar_t* path, DWORD size) {
  DWORD fault = Fault(L"GetModuleFileNameW", nullptr, nullptr);
  if (fault != kExtended) {
    if (fault != 0) SetLastError(fault);
    return fault != 0 ? 0 : GetModuleFileNameW(module, path, size);
  }
  // A path cut short answers the whole buffer, as Windows does.
  DWORD length = GetModuleFileNameW(module, path + 4, size - 4);
  std::wmemcpy(path, L"\\\\?\\", 4);
  return length + 4;
}

struct Hook {
  const char* name;
  void* replacement;
  template <typename Function>
  Hook(const char* imported, Function function)
      : name(imported), replacement(reinterpret_cast<void*>(function)) {}
};

const Hook kHooks[] = {
    {"CreateFileW", OnCreateFileW},
    {"CopyFileW", OnCopyFileW},
    {"MoveFileExW", OnMoveFileExW},
    {"DeleteFileW", OnDeleteFileW},
    {"CreateDirectoryW", OnCreateDirectoryW},
    {"RemoveDirectoryW", OnRemoveDirectoryW},
    {"GetFileAttributesW", OnGetFileAttributesW},
    {"SetFileAttributesW", OnSetFileAttributesW},
    {"FindFirstFileW", OnFindFirstFileW},
    {"FindNextFileW", OnFindNextFileW},
    {"ReadFile", OnReadFile},
    {"GetFileSizeEx", OnGetFileSizeEx},
    {"GetFileInformationByHandle", OnGetFileInformationByHandle},
    {"GetFileInformationByHandleEx", OnGetFileInformationByHandleEx},
    {"CreateProcessW", OnCreateProcessW},
    {"ResumeThread", OnResumeThread},
    {"OpenProcess", OnOpenProcess},
    {"GetProcessTimes", OnGetProcessTimes},
    {"CreateEventW", OnCreateEventW},
    {"OpenEventW", OnOpenEventW},
    {"GetModuleFileNameW", OnGetModuleFileNameW},
};

// Points the exe's imports from KERNEL32 at the replacements.
void RewriteImports() {
  auto base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto headers = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  DWORD imports =
      headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  auto dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
  for (; dll->Name != 0; ++dll) {
    if (_stricmp(reinterpret_cast<char*>(base + dll->Name), "kernel32.dll") != 0) continue;
    auto name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
    auto slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      auto imported = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      for (const Hook& hook : kHooks) {
        if (std::strcmp(reinterpret_cast<char*>(imported->Name), hook.name) != 0) continue;
        DWORD was = 0;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
        slot->u1.Function = reinterpret_cast<ULONG_PTR>(hook.replacement);
        VirtualProtect(slot, sizeof *slot, was, &was);
      }
    }
  }
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts = {L""};
  for (wchar_t c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

void ReadRules(const std::wstring& text) {
  for (const std::wstring& written : Split(text, L'&')) {
    std::vector<std::wstring> field = Split(written, L'|');
    if (field.size() != 6) continue;
    Rule rule = {};
    rule.process = field[0][0];
    rule.function = field[1];
    rule.path = field[2];
    rule.lasting = field[3].ends_with(L"!");
    rule.error = std::wcstoul(field[3].c_str(), nullptr, 10);
    if (field[3] == L"extended") rule.error = kExtended;
    if (field[3] == L"kill") rule.error = kKill;
    rule.after = std::wcstoul(field[4].c_str(), nullptr, 10);
    rule.times = std::wcstoul(field[5].c_str(), nullptr, 10);
    rules.push_back(rule);
  }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  GetModuleFileNameW(self, library, MAX_PATH);
  wchar_t text[32768];
  GetModuleFileNameW(nullptr, text, MAX_PATH);
  if (IsNewStub(text)) process = L'n';
  if (GetEnvironmentVariableW(L"QUILLMERE_FAULTS_LOG", text, 32768)) {
    journal = CreateFileW(text, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, 0, nullptr);
    std::wstring name = text;
    std::replace(name.begin(), name.end(), L'\\', L'/');
    journalLock = CreateMutexW(nullptr, FALSE, (L"Local\\quillmere-faults-log-" + name).c_str());
  }
  text[0] = L'\0';
  GetEnvironmentVariableW(L"QUILLMERE_FAULTS", text, 32768);
  ReadRules(text);
  RewriteImports();
  return TRUE;
}
