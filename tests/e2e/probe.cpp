// The Windows side of the tests, one program in four roles.
//
//   probe --run HOLD KILL GAP STUB ARGUMENTS
//     Starts the stub in a job (a second one GAP ms later, unless GAP is "-"), holds the
//     file HOLD open without sharing meanwhile (unless "-"; with every sharing after "="),
//     reads and closes the message boxes of the job's processes, ends the stubs after KILL
//     ms (unless 0), and waits until no process of the job runs. Writes UTF-16 records,
//     each ended by U+001E, of fields separated by U+001F: "exit", the milliseconds until
//     then and each stub's exit code; "box", caption, text and 1 when it shows an icon,
//     for each message box; "args", the stub's own arguments as the system splits them;
//     "left", the programs of the job still running 30 s after the stubs ended, which it
//     then ends; "copy", the name of a copy in progress of its own that it put in the
//     folder QUILLMERE_RUNNING_COPY names, if any, beside one of an ended start of its
//     number. The first record, "began", tells that Wine started it at all.
//   probe --squat
//     Makes the events by which a new stub shows that it runs beforehand, set, for every
//     id that Wine hands out. Prints "ready" once they stand, and waits.
//   probe --quoting
//     Checks the stub's quoting against the system's own splitter; prints what fails.
//   probe ...
//     Stands in for the launcher, the client or a new stub. As a new stub it shows that
//     it runs, as every stub must. It writes what it was given to a file of its own in
//     the folder QUILLMERE_PROBE_OUT names: its path, its command line, its working
//     folder and its arguments as the system splits them, each ended by a zero character.
//     Then it ends with the number in QUILLMERE_PROBE_EXIT. Patched by e2e.py, it shows
//     nothing and hangs for two seconds, then ends with a loader status, as a new stub that
//     Windows holds in its error box would (Wine shows none); or it moves its own file to
//     QUILLMERE_PROBE_OUT with ".quarantined" added and ends, as an antivirus moves a
//     program away that it blocks.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "../inject/inject.h"
#include "base/file_rules.h"
#include "handover/command_line.h"

namespace {

// "n" as it is, "h" hangs, "q" quarantined.
volatile char mode[] = "quillmere-probe-mode:n";
wchar_t text[32768];

// The event by which a stub shows the stub that started it, with process id `id`, that it runs.
const wchar_t* StubRunsEvent(DWORD id) {
  std::swprintf(text, 64, L"Local\\Quillmere-stub-runs-%lx", id);
  return text;
}

void Append(std::wstring& record, const std::wstring& field, wchar_t end) {
  record += field;
  record += end;
}

std::vector<std::wstring> Split(const wchar_t* line) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(line, &count);
  std::vector<std::wstring> split(words, words + count);
  LocalFree(words);
  return split;
}

void Write(HANDLE file, const std::wstring& record) {
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size() * 2), &written, nullptr);
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
  // Windows' own answers, where the test asks for them: see inject/faults.cpp.
  if (GetEnvironmentVariableW(L"QUILLMERE_FAULTS_DLL", text, MAX_PATH)) {
    InjectLibrary(process.hProcess, text);
  }
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  return process.hProcess;
}

std::vector<DWORD> ProcessesIn(HANDLE job) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
  } ids = {};
  QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr);
  std::vector<DWORD> running;
  for (ULONG i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
    DWORD id = static_cast<DWORD>(ids.list.ProcessIdList[i]);
    // Wine keeps a process whose start a kill of its parent cut short in the job for good,
    // though it has ended as far as its handle tells; Windows lists only running ones.
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) running.push_back(id);
    if (process) CloseHandle(process);
  }
  return running;
}

// Reads and closes each message box that a process of the job shows, once.
void CloseBoxes(const std::vector<DWORD>& processes, std::vector<HWND>& closed,
                std::wstring& report) {
  HWND box = nullptr;
  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    bool ours = std::count(processes.begin(), processes.end(), owner) > 0;
    bool seen = std::count(closed.begin(), closed.end(), box) > 0;
    wchar_t caption[64];
    // 0xFFFF is the id of a message box's text.
    if (!ours || seen || !IsWindowVisible(box) || !GetWindowTextW(box, caption, 64) ||
        !GetDlgItemTextW(box, 0xFFFF, text, 1024)) {
      continue;
    }
    // Whether it shows an icon, whose control is 0x14 on Windows, 0x440 in Wine. (Which
    // icon, the other process's handle does not tell.)
    HWND icon = GetDlgItem(box, GetDlgItem(box, 0x14) ? 0x14 : 0x440);
    bool shown = SendMessageW(icon, STM_GETICON, 0, 0) != 0;
    std::wstring fields = std::wstring(caption) + L"\x1f" + text + L"\x1f" + (shown ? L"1" : L"0");
    Append(report, L"box\x1f" + fields, L'\x1e');
    closed.push_back(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
}

int Run(wchar_t** argv) {
  // Before anything runs: a report without it tells that Wine never started the probe.
  Write(GetStdHandle(STD_OUTPUT_HANDLE), L"began\x1e");
  std::wstring stub = argv[5];
  std::wstring line = L"\"" + stub + L"\" " + argv[6];
  // Wine starts the process behind its desktop window for the first program that needs
  // it; were that a stub, it would stay in the job and keep it from ever being empty.
  GetDesktopWindow();
  std::wstring held = argv[2];
  // "=" first: held with every sharing allowed, as several language runtimes open files.
  DWORD sharing = held.starts_with(L'=') ? 7 : 0;
  if (held != L"-") {
    CreateFileW(held.c_str() + (sharing ? 1 : 0), GENERIC_READ | GENERIC_WRITE, sharing, nullptr,
                OPEN_EXISTING, 0, nullptr);
  }
  // A fill's copy in progress of this process, which runs all through the start, and one
  // of an ended start whose process number it got.
  std::wstring report;
  wchar_t folder[MAX_PATH];
  if (GetEnvironmentVariableW(L"QUILLMERE_RUNNING_COPY", folder, MAX_PATH)) {
    FILETIME created, unused;
    GetProcessTimes(GetCurrentProcess(), &created, &unused, &unused, &unused);
    std::uint64_t start = std::uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
    std::wstring own = quillmere::ScratchName(GetCurrentProcessId(), start, 0);
    for (const std::wstring& name : {own, quillmere::ScratchName(GetCurrentProcessId(), 1, 0)}) {
      CloseHandle(
          CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }
    Append(report, L"copy\x1f" + own, L'\x1e');
  }
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  ULONGLONG start = GetTickCount64();
  std::vector<HANDLE> stubs = {Start(stub, line, job)};
  if (std::wstring(argv[4]) != L"-") {
    Sleep(_wtoi(argv[4]));
    stubs.push_back(Start(stub, line, job));
  }
  std::vector<HWND> closed;
  ULONGLONG kill = _wtoi(argv[3]);
  ULONGLONG ended = start;
  for (;;) {
    std::vector<DWORD> processes = ProcessesIn(job);
    if (processes.empty()) break;
    ULONGLONG now = GetTickCount64();
    // The stubs alone, as a player ends a program: what they started must end with them or
    // carry on by itself.
    if (kill && now - start > kill) {
      for (HANDLE process : stubs) TerminateProcess(process, 9);
      kill = 0;
    }
    bool stubsRun = false;
    for (HANDLE process : stubs) stubsRun |= WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    if (stubsRun) ended = now;
    // What the stubs started finishes the start well within this, unless it waits for good.
    if (now - ended > 30000) {
      std::wstring left = L"left";
      for (DWORD id : processes) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        DWORD size = MAX_PATH;
        if (!process || !QueryFullProcessImageNameW(process, 0, text, &size)) size = 0;
        left += L"\x1f" + std::wstring(text, size);
        CloseHandle(process);
      }
      Append(report, left, L'\x1e');
      TerminateJobObject(job, 9);
      ended = now;
    }
    CloseBoxes(processes, closed, report);
    Sleep(10);
  }
  report += L"exit\x1f" + std::to_wstring(GetTickCount64() - start);
  for (HANDLE process : stubs) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    report += L"\x1f" + std::to_wstring(code);
  }
  report +=
      L"\x1e"
      L"args";
  std::vector<std::wstring> arguments = Split(line.c_str());
  for (std::size_t i = 1; i < arguments.size(); ++i) report += L"\x1f" + arguments[i];
  Write(GetStdHandle(STD_OUTPUT_HANDLE), report + L"\x1e");
  return 0;
}

int Squat() {
  for (DWORD id = 0; id < 0x4000; id += 4) {
    CreateEventW(nullptr, TRUE, TRUE, StubRunsEvent(id));
  }
  Write(GetStdHandle(STD_OUTPUT_HANDLE), L"ready\n");
  Sleep(INFINITE);
  return 0;
}

// Every argument of up to six characters from a, blank, tab, quote and backslash, twice on
// one line, must come back from the splitter unchanged; and whether a line holds arguments
// after the program name must agree with it.
int CheckQuoting() {
  std::vector<std::wstring> arguments = {L""};
  for (std::size_t i = 0; arguments[i].size() < 6; ++i) {
    for (wchar_t c : std::wstring(L"a \t\"\\")) arguments.push_back(arguments[i] + c);
  }
  std::vector<std::wstring> failed;
  for (const std::wstring& argument : arguments) {
    std::wstring quoted = quillmere::QuoteArgument(argument);
    std::vector<std::wstring> want = {L"p", argument, argument};
    bool splitBack = Split((L"p " + quoted + L" " + quoted).c_str()) == want;
    bool hasArguments = Split(argument.c_str()).size() > 1;
    if (!splitBack || quillmere::HasArgumentsAfterProgramName(argument) != hasArguments) {
      failed.push_back(argument);
    }
  }
  for (const std::wstring& argument : failed)
    Write(GetStdHandle(STD_OUTPUT_HANDLE), L"FAIL " + argument + L"\n");
  return failed.empty() ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (count > 6 && std::wstring(argv[1]) == L"--run") return Run(argv);
  if (count > 1 && std::wstring(argv[1]) == L"--quoting") return CheckQuoting();
  if (count > 1 && std::wstring(argv[1]) == L"--squat") return Squat();
  wchar_t folder[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"QUILLMERE_PROBE_OUT", folder, MAX_PATH);
  if (mode[sizeof mode - 2] == 'h') {
    Sleep(2000);
    ExitProcess(0xC0000135);
  }
  if (mode[sizeof mode - 2] == 'q') {
    GetModuleFileNameW(nullptr, text, 32768);
    MoveFileExW(text, (std::wstring(folder) + L".quarantined").c_str(), MOVEFILE_REPLACE_EXISTING);
    ExitProcess(1);
  }
  HANDLE runs = OpenEventW(EVENT_MODIFY_STATE, FALSE, StubRunsEvent(GetCurrentProcessId()));
  if (runs) SetEvent(runs);
  if (folder[0] != L'\0') {
    std::wstring record;
    GetModuleFileNameW(nullptr, text, 32768);
    Append(record, text, L'\0');
    Append(record, GetCommandLineW(), L'\0');
    GetCurrentDirectoryW(32768, text);
    Append(record, text, L'\0');
    for (int i = 0; i < count; ++i) Append(record, argv[i], L'\0');
    // A file of its own, so that probes that run at once cannot mix their records.
    GetTempFileNameW(folder, L"p", 0, text);
    HANDLE file = CreateFileW(text, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    Write(file, record);
    CloseHandle(file);
  }
  wchar_t code[32] = L"0";
  GetEnvironmentVariableW(L"QUILLMERE_PROBE_EXIT", code, 32);
  ExitProcess(static_cast<UINT>(std::wcstoul(code, nullptr, 0)));
}
