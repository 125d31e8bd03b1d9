// The part of the end-to-end driver (tests/e2e.py) that must run under Wine. It starts
// the stub in a job (a second one GAP ms later, unless GAP is "-"), holds the file HOLD
// open without sharing meanwhile (unless "-"), reads and closes the message boxes of the
// job's processes, and waits until the job is empty, or ends it after KILL ms (unless
// 0). It writes UTF-16 records to its output, each ended by U+001E, of fields separated
// by U+001F: "exit", the milliseconds until the job was empty and each stub's exit code;
// "box", caption and text, for each message box; "args", the stub's own arguments as
// the system splits them.
//
//   runner HOLD KILL GAP STUB ARGUMENTS
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::wstring report;

void Add(const std::wstring& kind, const std::vector<std::wstring>& fields) {
  report += kind;
  for (const std::wstring& field : fields) {
    report += L'\x1f';
    report += field;
  }
  report += L'\x1e';
}

HANDLE Start(const std::wstring& stub, std::wstring line, HANDLE job) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // Now and then Wine fails a start with ERROR_INTERNAL_ERROR before the program runs.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (CreateProcessW(stub.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                       nullptr, nullptr, &startup, &process)) {
      break;
    }
    if (GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  return process.hProcess;
}

// The processes in the job; none once it is empty.
std::vector<DWORD> ProcessesIn(HANDLE job) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
  } ids = {};
  QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr);
  ULONG_PTR* first = ids.list.ProcessIdList;
  return std::vector<DWORD>(first, first + ids.list.NumberOfProcessIdsInList);
}

// Reads and closes each message box that a process of the job shows.
void CloseBoxes(const std::vector<DWORD>& processes, std::vector<HWND>& closed) {
  HWND box = nullptr;
  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    bool ours = std::count(processes.begin(), processes.end(), owner) > 0;
    bool seen = std::count(closed.begin(), closed.end(), box) > 0;
    if (!ours || seen || !IsWindowVisible(box)) continue;
    wchar_t caption[64];
    wchar_t text[1024];
    // 0xFFFF is the id of a message box's text.
    if (!GetWindowTextW(box, caption, 64) || !GetDlgItemTextW(box, 0xFFFF, text, 1024)) continue;
    Add(L"box", {caption, text});
    closed.push_back(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6) return 2;
  std::wstring hold = argv[1];
  ULONGLONG limit = _wtoi(argv[2]) ? _wtoi(argv[2]) : 120000;
  std::wstring gap = argv[3];
  std::wstring stub = argv[4];
  std::wstring line = L"\"" + stub + L"\" " + argv[5];
  // Wine starts the process behind its desktop window for the first program that needs
  // it; were that a stub, it would stay in the job and keep it from ever being empty.
  GetDesktopWindow();
  if (hold != L"-") {
    CreateFileW(hold.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  ULONGLONG start = GetTickCount64();
  std::vector<HANDLE> stubs = {Start(stub, line, job)};
  if (gap != L"-") {
    Sleep(_wtoi(gap.c_str()));
    stubs.push_back(Start(stub, line, job));
  }
  std::vector<HWND> closed;
  for (;;) {
    std::vector<DWORD> processes = ProcessesIn(job);
    if (processes.empty()) break;
    if (GetTickCount64() - start > limit) {
      TerminateJobObject(job, 9);
      Sleep(1000);
    }
    CloseBoxes(processes, closed);
    Sleep(10);
  }
  std::vector<std::wstring> exit = {std::to_wstring(GetTickCount64() - start)};
  for (HANDLE process : stubs) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    exit.push_back(std::to_wstring(code));
  }
  Add(L"exit", exit);
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(line.c_str(), &count);
  Add(L"args", std::vector<std::wstring>(arguments + 1, arguments + count));
  DWORD written = 0;
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  WriteFile(output, report.data(), static_cast<DWORD>(report.size() * 2), &written, nullptr);
  return 0;
}
