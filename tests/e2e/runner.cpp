// The part of the end-to-end driver that must run under Wine: starts the stub in a
// job, holds a file open meanwhile, reads and closes the message boxes of the job's
// processes, waits until the job is empty (or ends it), and reports on its output in
// UTF-16 records ended by U+001E of fields separated by U+001F: "exit", the first
// stub's exit code and the milliseconds until the job was empty;
// "box", caption and text, for each box; "args" and the stub's own arguments as the
// system splits them; "probe", its path, command line, folder and arguments, for
// each program that the probe file (QUILLMERE_PROBE_OUT) says was started.
//
//   runner HOLD|- KILL_MS|0 GAP_MS|- STUB ARGUMENTS
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::wstring report;

void Add(std::wstring kind, const std::vector<std::wstring>& fields) {
  for (const auto& field : fields) kind += L'\x1f' + field;
  report += kind + L'\x1e';
}

std::vector<std::wstring> Arguments(const std::wstring& line) {
  int count = 0;
  wchar_t** split = CommandLineToArgvW(line.c_str(), &count);
  std::vector<std::wstring> words(split, split + count);
  LocalFree(split);
  return words;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6) return 2;
  // Wine starts the process behind its desktop window for the first program that needs
  // it; were that a stub, it would stay in the job and keep it from ever being empty.
  GetDesktopWindow();
  std::wstring line = L"\"" + std::wstring(argv[4]) + L"\" " + argv[5];
  HANDLE held = wcscmp(argv[1], L"-") ? CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr;
  HANDLE job = CreateJobObjectW(nullptr, nullptr), stub = nullptr;
  ULONGLONG start = GetTickCount64(), limit = _wtoi(argv[2]) ? _wtoi(argv[2]) : 120000;
  for (int gap : {0, wcscmp(argv[3], L"-") ? _wtoi(argv[3]) : -1}) {
    STARTUPINFOW info = {sizeof info};
    PROCESS_INFORMATION process = {};
    if (gap < 0) break;
    Sleep(gap);
    // The one failure retried: now and then Wine fails a start with ERROR_INTERNAL_ERROR
    // before the program runs.
    for (int attempt = 0; attempt < 3; ++attempt)
      if (CreateProcessW(argv[4], line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &info, &process) ||
          GetLastError() != ERROR_INTERNAL_ERROR) break;
    AssignProcessToJobObject(job, process.hProcess), ResumeThread(process.hThread), CloseHandle(process.hThread);
    if (stub) CloseHandle(process.hProcess);
    else stub = process.hProcess;
  }
  std::vector<HWND> closed;
  struct { JOBOBJECT_BASIC_PROCESS_ID_LIST list; ULONG_PTR more[63]; } ids = {{64}};
  for (; QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr) && ids.list.NumberOfProcessIdsInList; Sleep(10)) {
    if (GetTickCount64() - start > limit) TerminateJobObject(job, 9), Sleep(1000);
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr));) {
      DWORD pid = 0;
      wchar_t caption[64], text[1024];
      GetWindowThreadProcessId(box, &pid);
      if (!std::count(ids.list.ProcessIdList, ids.list.ProcessIdList + ids.list.NumberOfProcessIdsInList, pid) || std::count(closed.begin(), closed.end(), box) ||
          !IsWindowVisible(box) || !GetWindowTextW(box, caption, 64) || !GetDlgItemTextW(box, 0xFFFF, text, 1024)) continue;  // a message box's text
      Add(L"box", {caption, text}), closed.push_back(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  }
  DWORD exit = 0;
  GetExitCodeProcess(stub, &exit), CloseHandle(stub), CloseHandle(job), CloseHandle(held);
  Add(L"exit", {std::to_wstring(exit), std::to_wstring(GetTickCount64() - start)});
  std::vector<std::wstring> args = Arguments(line);
  Add(L"args", std::vector<std::wstring>(args.begin() + 1, args.end()));
  // The probes' records: path, command line and folder, each ended by a zero character.
  wchar_t out[MAX_PATH];
  std::wstring records;
  HANDLE file = CreateFileW(std::wstring(out, GetEnvironmentVariableW(L"QUILLMERE_PROBE_OUT", out, MAX_PATH)).c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD size = file == INVALID_HANDLE_VALUE ? 0 : GetFileSize(file, nullptr);
  records.resize(size / 2);
  ReadFile(file, records.data(), size, &size, nullptr), CloseHandle(file);
  for (std::size_t at = 0, a, b, c; (a = records.find(L'\0', at)) != std::wstring::npos && (b = records.find(L'\0', a + 1)) != std::wstring::npos &&
                                    (c = records.find(L'\0', b + 1)) != std::wstring::npos; at = c + 1) {
    std::vector<std::wstring> fields = {records.substr(at, a - at), records.substr(a + 1, b - a - 1), records.substr(b + 1, c - b - 1)};
    for (const auto& argument : Arguments(fields[1])) fields.push_back(argument);
    Add(L"probe", fields);
  }
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), report.data(), static_cast<DWORD>(report.size() * 2), &size, nullptr);
  return 0;
}
