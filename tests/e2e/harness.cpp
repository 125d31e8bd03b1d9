#include "harness.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace e2e {
namespace {

constexpr DWORD kSafetyLimitMs = 60000;
constexpr DWORD kPollMs = 15;

// \\?\ lifts the MAX_PATH limit for the helpers; the programs under test get the
// plain paths.
std::wstring Ext(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

std::wstring Parent(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring TempDir() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  std::wstring dir(buffer, n);
  while (!dir.empty() && dir.back() == L'\\') dir.pop_back();
  return dir;
}

// The build hands over host paths; under Wine they become DOS paths through Wine's
// own mapping, on Windows they already are Windows paths.
std::wstring FromBuildPath(const char* path) {
  using ToDos = wchar_t* (*)(const char*);
  auto toDos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (toDos && path[0] == '/') {
    wchar_t* dos = toDos(path);
    std::wstring result = dos ? dos : L"";
    HeapFree(GetProcessHeap(), 0, dos);
    return result;
  }
  std::wstring result(path, path + strlen(path));
  std::replace(result.begin(), result.end(), L'/', L'\\');
  return result;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

std::wstring_view NameOf(std::wstring_view entry) {
  // Entries such as "=C:=C:\dir" begin with '='; the name ends at the next one.
  return entry.substr(0, entry.find(L'=', 1));
}

std::wstring BuildEnvironment(const EnvAdditions& additions) {
  std::vector<std::wstring> entries;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
    std::wstring_view entry(p);
    bool replaced = std::any_of(additions.begin(), additions.end(),
                                [&](const auto& add) { return SameName(NameOf(entry), add.first); });
    if (!replaced) entries.emplace_back(entry);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : additions) entries.push_back(name + L"=" + value);
  // Windows expects the block sorted by name, ignoring case.
  std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    std::wstring_view x = NameOf(a), y = NameOf(b);
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()),
                                TRUE) == CSTR_LESS_THAN;
  });
  std::wstring result;
  for (const auto& entry : entries) result += entry + L'\0';
  result += L'\0';
  return result;
}

std::vector<DWORD> JobProcessIds(HANDLE job) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
  } ids{};
  ids.list.NumberOfAssignedProcesses = 64;
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) return {};
  std::vector<DWORD> result;
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i)
    result.push_back(static_cast<DWORD>(ids.list.ProcessIdList[i]));
  return result;
}

DWORD ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr))
    return 0;
  return info.ActiveProcesses;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64];
  int n = GetClassNameW(window, name, 64);
  return std::wstring(name, n > 0 ? n : 0);
}

std::wstring TextOf(HWND window) {
  std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), static_cast<int>(text.size())));
  return text;
}

// Visible dialog boxes of the given processes: a box becomes visible only after its
// texts are set.
std::vector<HWND> DialogsOf(const std::vector<DWORD>& pids) {
  struct Search {
    const std::vector<DWORD>* pids;
    std::vector<HWND> found;
  } search{&pids, {}};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (std::find(s->pids->begin(), s->pids->end(), pid) != s->pids->end() &&
            ClassOf(window) == L"#32770" && IsWindowVisible(window))
          s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

MessageBoxSeen ReadBox(HWND box) {
  MessageBoxSeen seen{TextOf(box), L""};
  EnumChildWindows(
      box,
      [](HWND child, LPARAM param) -> BOOL {
        auto* text = reinterpret_cast<std::wstring*>(param);
        if (SameName(ClassOf(child), L"Static")) {
          std::wstring part = TextOf(child);
          if (!part.empty()) *text += (text->empty() ? L"" : L"\n") + part;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&seen.text));
  return seen;
}

std::vector<ProbeRecord> ParseProbeRecords(const std::string& bytes) {
  std::vector<ProbeRecord> records;
  if (bytes.size() % 2) ADD_FAILURE() << "probe output has an odd number of bytes";
  std::wstring all(bytes.size() / 2, L'\0');
  memcpy(all.data(), bytes.data(), all.size() * 2);
  std::vector<std::wstring> fields;
  for (size_t start = 0, end; start < all.size(); start = end + 1) {
    end = all.find(L'\0', start);
    if (end == std::wstring::npos) {
      ADD_FAILURE() << "probe output ends inside a field";
      break;
    }
    fields.push_back(all.substr(start, end - start));
  }
  for (size_t i = 0; i < fields.size();) {
    if (fields.size() - i < 6 || fields[i] != L"QMPROBE1" || fields[i + 4].empty()) {
      ADD_FAILURE() << "malformed probe record at field " << i;
      break;
    }
    ProbeRecord r;
    r.commandLine = fields[i + 1];
    r.currentDirectory = fields[i + 2];
    r.modulePath = fields[i + 3];
    r.echoSet = fields[i + 4][0] == L'+';
    r.echo = fields[i + 4].substr(1);
    size_t argc = std::wcstoul(fields[i + 5].c_str(), nullptr, 10);
    i += 6;
    if (fields.size() - i < argc) {
      ADD_FAILURE() << "probe record cut short";
      break;
    }
    r.argv.assign(fields.begin() + i, fields.begin() + i + argc);
    i += argc;
    records.push_back(std::move(r));
  }
  return records;
}

}  // namespace

std::wstring StubExe() {
  static const std::wstring path = FromBuildPath(QUILLMERE_E2E_STUB);
  return path;
}

std::wstring ProbeExe() {
  static const std::wstring path = FromBuildPath(QUILLMERE_E2E_PROBE);
  return path;
}

RunResult RunStub(const std::wstring& exe, const std::wstring& arguments, const EnvAdditions& env) {
  static unsigned runs = 0;
  RunResult result;
  std::wstring probeOut = TempDir() + L"\\qme2e-" + std::to_wstring(GetCurrentProcessId()) + L"-run" +
                          std::to_wstring(++runs) + L".probe";
  DeleteFileW(probeOut.c_str());
  EnvAdditions all = env;
  if (std::none_of(env.begin(), env.end(), [](const auto& e) { return SameName(e.first, L"QUILLMERE_PROBE_OUT"); }))
    all.emplace_back(L"QUILLMERE_PROBE_OUT", probeOut);
  std::wstring environment = BuildEnvironment(all);
  std::wstring commandLine = QuoteArg(exe) + (arguments.empty() ? L"" : L" " + arguments);
  std::wstring startIn = TempDir();

  UniqueProcessHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  // Should the test die, the processes under test die with it.
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job || !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    ADD_FAILURE() << "cannot set up a job object, error " << GetLastError();
    return result;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.data(), startIn.c_str(),
                      &startup, &info)) {
    ADD_FAILURE() << "cannot start " << Show(exe) << ", error " << GetLastError();
    return result;
  }
  UniqueProcessHandle process(info.hProcess), thread(info.hThread);
  if (!AssignProcessToJobObject(job.get(), process.get())) {
    ADD_FAILURE() << "cannot put the stub into the job, error " << GetLastError();
    TerminateProcess(process.get(), 1);
    return result;
  }
  ResumeThread(thread.get());

  std::vector<HWND> seen;
  ULONGLONG deadline = GetTickCount64() + kSafetyLimitMs;
  while (ActiveProcesses(job.get()) > 0) {
    for (HWND box : DialogsOf(JobProcessIds(job.get()))) {
      if (std::find(seen.begin(), seen.end(), box) == seen.end()) {
        seen.push_back(box);
        result.boxes.push_back(ReadBox(box));
      }
      // Posted again on every turn until the box is gone; an extra one is harmless.
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    if (GetTickCount64() > deadline) {
      result.timedOut = true;
      TerminateJobObject(job.get(), 0xDEADDEAD);
      ADD_FAILURE() << "the stub's job still ran after " << kSafetyLimitMs / 1000 << " s; ended it";
      break;
    }
    Sleep(kPollMs);
  }
  WaitForSingleObject(process.get(), 10000);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  result.exitCode = code;

  result.probes = ParseProbeRecords(ReadBytes(probeOut));
  DeleteFileW(probeOut.c_str());
  return result;
}

std::wstring QuoteArg(const std::wstring& arg) {
  // More eager than it needs to be (line feeds and vertical tabs are quoted too), so
  // the stub sees quoting it would not have produced itself.
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::wstring JoinArgs(const std::vector<std::wstring>& args) {
  std::wstring line;
  for (const auto& arg : args) line += (line.empty() ? L"" : L" ") + QuoteArg(arg);
  return line;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine.c_str(), &argc);
  if (!argv) return {};
  std::vector<std::wstring> result(argv, argv + argc);
  LocalFree(argv);
  return result;
}

void MakeDirs(const std::wstring& dir) {
  // Skip the drive ("C:") or the server and share of a UNC path.
  size_t pos = dir.rfind(L"\\\\", 0) == 0 ? dir.find(L'\\', dir.find(L'\\', 2) + 1) : dir.find(L'\\');
  while (pos != std::wstring::npos) {
    pos = dir.find(L'\\', pos + 1);
    CreateDirectoryW(Ext(dir.substr(0, pos)).c_str(), nullptr);
  }
  if (!IsDir(dir)) ADD_FAILURE() << "cannot make folder " << Show(dir) << ", error " << GetLastError();
}

void WriteBytes(const std::wstring& file, std::string_view bytes) {
  MakeDirs(Parent(file));
  UniqueFile h(CreateFileW(Ext(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!h || !WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    ADD_FAILURE() << "cannot write " << Show(file) << ", error " << GetLastError();
}

void CopyExe(const std::wstring& from, const std::wstring& to) {
  MakeDirs(Parent(to));
  if (!CopyFileW(Ext(from).c_str(), Ext(to).c_str(), FALSE))
    ADD_FAILURE() << "cannot copy " << Show(from) << " to " << Show(to) << ", error " << GetLastError();
}

std::string ReadBytes(const std::wstring& file) {
  UniqueFile h(CreateFileW(Ext(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  char block[65536];
  DWORD n = 0;
  while (h && ReadFile(h.get(), block, sizeof block, &n, nullptr) && n > 0) bytes.append(block, n);
  return bytes;
}

bool IsFile(const std::wstring& path) {
  DWORD a = GetFileAttributesW(Ext(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDir(const std::wstring& path) {
  DWORD a = GetFileAttributesW(Ext(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

template <typename Visit>
void ForEachEntry(const std::wstring& dir, Visit visit) {
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(Ext(dir + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") visit(name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileW(find.get(), &data));
}

void ListInto(const std::wstring& dir, const std::wstring& prefix, std::vector<std::wstring>& out) {
  ForEachEntry(dir, [&](const std::wstring& name, bool isDir) {
    out.push_back(prefix + name + (isDir ? L"\\" : L""));
    if (isDir) ListInto(dir + L"\\" + name, prefix + name + L"\\", out);
  });
}

}  // namespace

std::vector<std::wstring> ListTree(const std::wstring& dir) {
  std::vector<std::wstring> entries;
  ListInto(dir, L"", entries);
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool DeleteTree(const std::wstring& dir) {
  ForEachEntry(dir, [&](const std::wstring& name, bool isDir) {
    std::wstring path = dir + L"\\" + name;
    if (isDir) {
      DeleteTree(path);
    } else {
      SetFileAttributesW(Ext(path).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(Ext(path).c_str());
    }
  });
  SetFileAttributesW(Ext(dir).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (RemoveDirectoryW(Ext(dir).c_str())) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::wstring Fill(std::wstring pattern, const std::wstring& root) {
  for (size_t at; (at = pattern.find(L"{R}")) != std::wstring::npos;) pattern.replace(at, 3, root);
  return pattern;
}

void MakeTree(const std::wstring& root, std::wstring_view entries) {
  for (size_t start = 0, end; start < entries.size(); start = end + 1) {
    end = std::min(entries.find(L';', start), entries.size());
    std::wstring entry(entries.substr(start, end - start));
    if (entry.empty()) continue;
    std::wstring path = root + L"\\" + entry;
    std::wstring name = entry.substr(entry.find_last_of(L'\\') + 1);
    if (entry.back() == L'\\') MakeDirs(path.substr(0, path.size() - 1));
    else if (name.ends_with(L".exe")) CopyExe(ProbeExe(), path);
    else WriteBytes(path, std::string(name.begin(), name.end()));
  }
}

UniqueFile Hold(const std::wstring& file, unsigned long access, unsigned long share) {
  UniqueFile held(CreateFileW(Ext(file).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) ADD_FAILURE() << "cannot hold " << Show(file) << " open, error " << GetLastError();
  return held;
}

std::string Show(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) {
    if (c == L'\n') out += "\\n";
    else if (c == L'\t') out += "\\t";
    else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
    else {
      char buffer[8];
      snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
      out += buffer;
    }
  }
  return out;
}

void InstallFolder::SetUp() {
  static unsigned tests = 0;
  dir_ = TempDir() + L"\\qme2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++tests);
  DeleteTree(dir_); // a leftover of an earlier process with the same id
  MakeDirs(dir_);
}

void InstallFolder::TearDown() {
  bool deleted = DeleteTree(dir_);
  std::string left;
  if (!deleted)
    for (const auto& entry : ListTree(dir_)) left += "\n  " + Show(entry);
  EXPECT_TRUE(deleted) << "the test folder " << Show(dir_)
                       << " could not be deleted (a handle still open?); left:" << left;
}

std::wstring InstallFolder::NewRoot(const std::wstring& name) {
  std::wstring root = dir_ + L"\\" + name;
  MakeDirs(root);
  return root;
}

std::wstring InstallFolder::InstallStub(const std::wstring& root) {
  std::wstring path = root + L"\\Quillmere.exe";
  CopyExe(StubExe(), path);
  return path;
}

std::wstring InstallFolder::InstallProbe(const std::wstring& root, const std::wstring& relative) {
  std::wstring path = root + L"\\" + relative;
  CopyExe(ProbeExe(), path);
  return path;
}

}  // namespace e2e
