// A library that answers the calls of the real Quillmere.exe as Windows answers them where
// Wine never does, as Application Verifier's fault injection does. Loaded into the stub
// before its first instruction (inject.h), it rewrites the stub's imports from KERNEL32 and
// fails chosen calls with chosen errors; a new stub that the stub starts suspended gets it
// too. Nothing of it is in the stub.
//
//   QUILLMERE_FAULTS      rules separated by "&", each PROCESS|FUNCTION|PATH|ERROR|AFTER|TIMES:
//                         PROCESS "s" the stub, "n" a new stub still named <stub>.new, "*"
//                         either; FUNCTION a call's name, "*" any; PATH a part of a path that
//                         the call names, empty for any call. Of the calls that match, the
//                         first AFTER go through and the next TIMES (0: all) fail with ERROR.
//                         "ERROR!" is a refusal that lasts: every later call that names the
//                         same file fails so too. "~MS" delays the call instead; "extended"
//                         makes GetModuleFileNameW answer with the extended-length form.
//   QUILLMERE_FAULTS_LOG  a file that gets a line for each call: PROCESS, FUNCTION, where in
//                         the exe it comes from (Site) and the paths, tab-separated.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "inject.h"

namespace {

// An answer that is no error code: the own path in its extended-length form.
constexpr DWORD kExtended = 0xE0000001;

struct Rule {
  char process;
  std::string function;
  std::wstring path;
  DWORD error;
  bool lasting;
  DWORD delay;
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
char process = 's';
HANDLE journal = INVALID_HANDLE_VALUE;
wchar_t library[MAX_PATH];

std::string Utf8(const wchar_t* text) {
  std::string bytes(4 * std::wcslen(text), '\0');
  int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(std::wcslen(text)),
                                 bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.resize(size);
  return bytes;
}

// Where in the exe a call comes from: the return addresses of the three innermost frames
// that lie in the exe, as offsets from its start, so that one helper's call made on behalf
// of different callers counts as different sites.
std::string Site() {
  auto base = reinterpret_cast<char*>(GetModuleHandleW(nullptr));
  auto headers = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  char* end = base + headers->OptionalHeader.SizeOfImage;
  void* frames[32];
  USHORT count = RtlCaptureStackBackTrace(0, 32, frames, nullptr);
  std::string site;
  int kept = 0;
  for (USHORT i = 0; i < count && kept < 3; ++i) {
    char* at = static_cast<char*>(frames[i]);
    if (at < base || at >= end) continue;
    char offset[24];
    std::snprintf(offset, sizeof offset, kept == 0 ? "%llx" : ":%llx",
                  static_cast<unsigned long long>(at - base));
    site += offset;
    kept += 1;
  }
  return site;
}

void Log(const char* function, const wchar_t* path, const wchar_t* other) {
  if (journal == INVALID_HANDLE_VALUE) return;
  std::string line = std::string(1, process) + "\t" + function + "\t" + Site();
  if (path) line += "\t" + Utf8(path);
  if (other) line += "\t" + Utf8(other);
  line += "\n";
  DWORD written = 0;
  WriteFile(journal, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool Names(const wchar_t* path, const std::wstring& part) {
  if (part.empty()) return true;
  return path != nullptr && std::wcsstr(path, part.c_str()) != nullptr;
}

bool Same(const wchar_t* path, const std::wstring& refused) {
  return path != nullptr && _wcsicmp(path, refused.c_str()) == 0;
}

void Refuse(const wchar_t* path, DWORD error) {
  if (path != nullptr) refusals.push_back({path, error});
}

// The error with which this call fails, 0 when it goes through.
DWORD Fault(const char* function, const wchar_t* path, const wchar_t* other) {
  Log(function, path, other);
  DWORD error = 0;
  for (const Refusal& refusal : refusals) {
    if (Same(path, refusal.path) || Same(other, refusal.path)) error = refusal.error;
  }
  for (Rule& rule : rules) {
    bool process_matches = rule.process == '*' || rule.process == process;
    bool function_matches = rule.function == "*" || rule.function == function;
    bool path_matches = Names(path, rule.path) || Names(other, rule.path);
    if (!process_matches || !function_matches || !path_matches) continue;
    rule.seen += 1;
    if (rule.seen <= rule.after) continue;
    if (rule.times != 0 && rule.seen > rule.after + rule.times) continue;
    if (rule.delay != 0) {
      Sleep(rule.delay);
      continue;
    }
    error = rule.error;
    if (rule.lasting) {
      Refuse(path, error);
      Refuse(other, error);
    }
  }
  return error;
}

bool Fails(const char* function, const wchar_t* path, const wchar_t* other = nullptr) {
  DWORD error = Fault(function, path, other);
  if (error == 0) return false;
  SetLastError(error);
  return true;
}

HANDLE WINAPI OnCreateFileW(const wchar_t* path, DWORD access, DWORD share,
                            SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                            HANDLE model) {
  if (Fails("CreateFileW", path)) return INVALID_HANDLE_VALUE;
  return CreateFileW(path, access, share, security, disposition, flags, model);
}

BOOL WINAPI OnCopyFileW(const wchar_t* from, const wchar_t* to, BOOL failIfExists) {
  if (Fails("CopyFileW", from, to)) return FALSE;
  return CopyFileW(from, to, failIfExists);
}

BOOL WINAPI OnMoveFileExW(const wchar_t* from, const wchar_t* to, DWORD flags) {
  if (Fails("MoveFileExW", from, to)) return FALSE;
  return MoveFileExW(from, to, flags);
}

BOOL WINAPI OnDeleteFileW(const wchar_t* path) {
  if (Fails("DeleteFileW", path)) return FALSE;
  return DeleteFileW(path);
}

BOOL WINAPI OnCreateDirectoryW(const wchar_t* path, SECURITY_ATTRIBUTES* security) {
  if (Fails("CreateDirectoryW", path)) return FALSE;
  return CreateDirectoryW(path, security);
}

BOOL WINAPI OnRemoveDirectoryW(const wchar_t* path) {
  if (Fails("RemoveDirectoryW", path)) return FALSE;
  return RemoveDirectoryW(path);
}

DWORD WINAPI OnGetFileAttributesW(const wchar_t* path) {
  if (Fails("GetFileAttributesW", path)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(path);
}

BOOL WINAPI OnSetFileAttributesW(const wchar_t* path, DWORD attributes) {
  if (Fails("SetFileAttributesW", path)) return FALSE;
  return SetFileAttributesW(path, attributes);
}

HANDLE WINAPI OnFindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* entry) {
  if (Fails("FindFirstFileW", pattern)) return INVALID_HANDLE_VALUE;
  return FindFirstFileW(pattern, entry);
}

BOOL WINAPI OnFindNextFileW(HANDLE find, WIN32_FIND_DATAW* entry) {
  if (Fails("FindNextFileW", nullptr)) return FALSE;
  return FindNextFileW(find, entry);
}

BOOL WINAPI OnReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* at) {
  if (Fails("ReadFile", nullptr)) return FALSE;
  return ReadFile(file, buffer, size, read, at);
}

BOOL WINAPI OnGetFileSizeEx(HANDLE file, LARGE_INTEGER* size) {
  if (Fails("GetFileSizeEx", nullptr)) return FALSE;
  return GetFileSizeEx(file, size);
}

BOOL WINAPI OnSetFilePointerEx(HANDLE file, LARGE_INTEGER to, LARGE_INTEGER* at, DWORD from) {
  if (Fails("SetFilePointerEx", nullptr)) return FALSE;
  return SetFilePointerEx(file, to, at, from);
}

BOOL WINAPI OnGetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  if (Fails("GetFileInformationByHandle", nullptr)) return FALSE;
  return GetFileInformationByHandle(file, info);
}

BOOL WINAPI OnGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info,
                                           DWORD size) {
  if (Fails("GetFileInformationByHandleEx", nullptr)) return FALSE;
  return GetFileInformationByHandleEx(file, kind, info, size);
}

DWORD WINAPI OnGetFullPathNameW(const wchar_t* path, DWORD size, wchar_t* full, wchar_t** name) {
  if (Fails("GetFullPathNameW", path)) return 0;
  return GetFullPathNameW(path, size, full, name);
}

DWORD WINAPI OnGetShortPathNameW(const wchar_t* path, wchar_t* shortPath, DWORD size) {
  if (Fails("GetShortPathNameW", path)) return 0;
  return GetShortPathNameW(path, shortPath, size);
}

BOOL WINAPI OnCreateProcessW(const wchar_t* application, wchar_t* line,
                             SECURITY_ATTRIBUTES* processSecurity,
                             SECURITY_ATTRIBUTES* threadSecurity, BOOL inherit, DWORD flags,
                             void* environment, const wchar_t* folder, STARTUPINFOW* startup,
                             PROCESS_INFORMATION* started) {
  if (Fails("CreateProcessW", application)) return FALSE;
  if (!CreateProcessW(application, line, processSecurity, threadSecurity, inherit, flags,
                      environment, folder, startup, started)) {
    return FALSE;
  }
  // A new stub: it is answered as its parent is.
  if (flags & CREATE_SUSPENDED) InjectLibrary(started->hProcess, library);
  return TRUE;
}

DWORD WINAPI OnResumeThread(HANDLE thread) {
  if (Fails("ResumeThread", nullptr)) return static_cast<DWORD>(-1);
  return ResumeThread(thread);
}

BOOL WINAPI OnTerminateProcess(HANDLE target, UINT code) {
  if (Fails("TerminateProcess", nullptr)) return FALSE;
  return TerminateProcess(target, code);
}

HANDLE WINAPI OnOpenProcess(DWORD access, BOOL inherit, DWORD id) {
  if (Fails("OpenProcess", nullptr)) return nullptr;
  return OpenProcess(access, inherit, id);
}

BOOL WINAPI OnGetProcessTimes(HANDLE target, FILETIME* created, FILETIME* ended, FILETIME* kernel,
                              FILETIME* user) {
  if (Fails("GetProcessTimes", nullptr)) return FALSE;
  return GetProcessTimes(target, created, ended, kernel, user);
}

HANDLE WINAPI OnCreateEventW(SECURITY_ATTRIBUTES* security, BOOL manual, BOOL set,
                             const wchar_t* name) {
  if (Fails("CreateEventW", name)) return nullptr;
  return CreateEventW(security, manual, set, name);
}

HANDLE WINAPI OnOpenEventW(DWORD access, BOOL inherit, const wchar_t* name) {
  if (Fails("OpenEventW", name)) return nullptr;
  return OpenEventW(access, inherit, name);
}

DWORD WINAPI OnGetModuleFileNameW(HMODULE module, wchar_t* path, DWORD size) {
  DWORD fault = Fault("GetModuleFileNameW", nullptr, nullptr);
  if (fault != 0 && fault != kExtended) {
    SetLastError(fault);
    return 0;
  }
  wchar_t own[32768] = L"\\\\?\\";
  DWORD length = GetModuleFileNameW(module, own + 4, 32760);
  wchar_t* answer = fault == kExtended ? own : own + 4;
  length += fault == kExtended ? 4 : 0;
  if (length >= size) {
    // Cut to the buffer, as Windows does.
    std::wmemcpy(path, answer, size);
    path[size - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::wmemcpy(path, answer, length + 1);
  return length;
}

struct Hook {
  const char* name;
  void* replacement;
};

const Hook kHooks[] = {
    {"CreateFileW", reinterpret_cast<void*>(OnCreateFileW)},
    {"CopyFileW", reinterpret_cast<void*>(OnCopyFileW)},
    {"MoveFileExW", reinterpret_cast<void*>(OnMoveFileExW)},
    {"DeleteFileW", reinterpret_cast<void*>(OnDeleteFileW)},
    {"CreateDirectoryW", reinterpret_cast<void*>(OnCreateDirectoryW)},
    {"RemoveDirectoryW", reinterpret_cast<void*>(OnRemoveDirectoryW)},
    {"GetFileAttributesW", reinterpret_cast<void*>(OnGetFileAttributesW)},
    {"SetFileAttributesW", reinterpret_cast<void*>(OnSetFileAttributesW)},
    {"FindFirstFileW", reinterpret_cast<void*>(OnFindFirstFileW)},
    {"FindNextFileW", reinterpret_cast<void*>(OnFindNextFileW)},
    {"ReadFile", reinterpret_cast<void*>(OnReadFile)},
    {"GetFileSizeEx", reinterpret_cast<void*>(OnGetFileSizeEx)},
    {"SetFilePointerEx", reinterpret_cast<void*>(OnSetFilePointerEx)},
    {"GetFileInformationByHandle", reinterpret_cast<void*>(OnGetFileInformationByHandle)},
    {"GetFileInformationByHandleEx", reinterpret_cast<void*>(OnGetFileInformationByHandleEx)},
    {"GetFullPathNameW", reinterpret_cast<void*>(OnGetFullPathNameW)},
    {"GetShortPathNameW", reinterpret_cast<void*>(OnGetShortPathNameW)},
    {"CreateProcessW", reinterpret_cast<void*>(OnCreateProcessW)},
    {"ResumeThread", reinterpret_cast<void*>(OnResumeThread)},
    {"TerminateProcess", reinterpret_cast<void*>(OnTerminateProcess)},
    {"OpenProcess", reinterpret_cast<void*>(OnOpenProcess)},
    {"GetProcessTimes", reinterpret_cast<void*>(OnGetProcessTimes)},
    {"CreateEventW", reinterpret_cast<void*>(OnCreateEventW)},
    {"OpenEventW", reinterpret_cast<void*>(OnOpenEventW)},
    {"GetModuleFileNameW", reinterpret_cast<void*>(OnGetModuleFileNameW)},
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

std::wstring Variable(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), 32768));
  return value;
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

void ReadRules() {
  for (const std::wstring& text : Split(Variable(L"QUILLMERE_FAULTS"), L'&')) {
    std::vector<std::wstring> field = Split(text, L'|');
    if (field.size() != 6) continue;
    Rule rule = {};
    rule.process = static_cast<char>(field[0][0]);
    rule.function = Utf8(field[1].c_str());
    rule.path = field[2];
    std::wstring error = field[3];
    rule.lasting = error.ends_with(L"!");
    if (error.starts_with(L"~")) rule.delay = std::wcstoul(error.c_str() + 1, nullptr, 10);
    rule.error = error == L"extended" ? kExtended : std::wcstoul(error.c_str(), nullptr, 10);
    rule.after = std::wcstoul(field[4].c_str(), nullptr, 10);
    rule.times = std::wcstoul(field[5].c_str(), nullptr, 10);
    rules.push_back(rule);
  }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  GetModuleFileNameW(self, library, MAX_PATH);
  wchar_t own[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length > 4 && _wcsicmp(own + length - 4, L".new") == 0) process = 'n';
  std::wstring log = Variable(L"QUILLMERE_FAULTS_LOG");
  if (!log.empty()) {
    journal = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_ALWAYS, 0, nullptr);
  }
  ReadRules();
  RewriteImports();
  return TRUE;
}
