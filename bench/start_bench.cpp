// Start-up time and memory of Quillmere.exe against the minimal launcher, both in
// a complete folder of the current layout, measured inside one Wine session so
// that both pay Wine's process start the same way.
//
//   start_bench <work dir> <Quillmere.exe> <minimal_launcher.exe> <probe.exe>
//               <sleeper.exe> <timing runs> <memory runs>
//
// Each start runs in a job whose completion port reports the launcher's process
// as soon as the program under test creates it: "launcher created" is the time
// from our CreateProcessW to that report, "exit" the time to the program's end.
#include <windows.h>
#include <psapi.h>

#include "bench.h"

namespace {

constexpr DWORD kTimeoutMs = 30000;

// A complete folder of the current layout with `program` at the top and
// `launcher` as its launcher; returns the path of the program's copy.
std::wstring LayOut(const std::wstring& root, const std::wstring& program,
                    const std::wstring& launcher) {
  for (const wchar_t* dir :
       {L"", L"\\settings", L"\\live", L"\\live\\content", L"\\live\\content\\bin",
        L"\\live\\content\\resources", L"\\live\\content\\resources\\vfs"}) {
    CreateDirectoryW((root + dir).c_str(), nullptr);
  }
  WriteWholeFile(root + L"\\settings\\install-layout.txt", "2\n", 2);
  WriteWholeFile(root + L"\\live\\content\\bin\\defaults.bin", "defaults", 8);
  CopyFileW(launcher.c_str(), (root + L"\\live\\content\\bin\\QuillmereLauncher.exe").c_str(),
            FALSE);
  std::wstring copy = root + L"\\" + program.substr(program.find_last_of(L"\\/") + 1);
  CopyFileW(program.c_str(), copy.c_str(), FALSE);
  return copy;
}

struct Start {
  bool ok = false;
  double launcherCreatedMs = 0, exitMs = 0;
  PROCESS_MEMORY_COUNTERS memory = {};
  SIZE_T privateCommitted = 0;
};

// Committed private memory, summed over the address space. Wine reports no
// private bytes for another process in its counters, so they are counted here.
SIZE_T PrivateCommitted(HANDLE process) {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (char* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;
       at = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
  }
  return total;
}

// Starts `program`; with `sampleAfterMs` > 0 reads its memory that long after it
// created the launcher (while it waits for it). The launcher is the `launcherNumber`th
// process that joins the job after the program: the second after a stub that replaced
// itself, the first being the new stub. Whatever still runs in the job once the
// program has ended is ended.
Start RunOnce(const std::wstring& program, DWORD sampleAfterMs, int launcherNumber = 1) {
  Start start;
  // A Wine process goes on tearing down after its handle is signalled; a start
  // that overlaps with that of the one before takes up to 60 ms longer.
  Sleep(250);
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {job, port};
  SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &link, sizeof link);
  std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  double t0 = NowMs();
  if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                     nullptr, folder.c_str(), &startup, &info)) {
    AssignProcessToJobObject(job, info.hProcess);
    ResumeThread(info.hThread);
    DWORD message;
    ULONG_PTR key;
    LPOVERLAPPED detail;
    while (GetQueuedCompletionStatus(port, &message, &key, &detail, kTimeoutMs)) {
      DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(detail));
      // A stub that replaced itself may end before its successor starts the launcher.
      if ((message == JOB_OBJECT_MSG_EXIT_PROCESS ||
           message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) &&
          pid == info.dwProcessId) {
        start.exitMs = NowMs() - t0;
      }
      if (message == JOB_OBJECT_MSG_NEW_PROCESS && pid != info.dwProcessId &&
          --launcherNumber == 0) {
        start.launcherCreatedMs = NowMs() - t0;
        if (sampleAfterMs) {
          Sleep(sampleAfterMs);
          GetProcessMemoryInfo(info.hProcess, &start.memory, sizeof start.memory);
          start.privateCommitted = PrivateCommitted(info.hProcess);
        }
        break;
      }
    }
    if (WaitForSingleObject(info.hProcess, kTimeoutMs) == WAIT_OBJECT_0) {
      if (start.exitMs == 0) start.exitMs = NowMs() - t0;
      DWORD exitCode = 1;
      GetExitCodeProcess(info.hProcess, &exitCode);
      start.ok = start.launcherCreatedMs > 0 && exitCode == 0;
    }
    TerminateJobObject(job, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  CloseHandle(port);
  CloseHandle(job);
  return start;
}

struct Samples {
  std::vector<double> created, exit, peakWorkingSet, workingSet, privateBytes;
  int failed = 0;
};

void Add(Samples& samples, const Start& start, bool memory) {
  if (!start.ok) {
    ++samples.failed;
    return;
  }
  if (memory) {
    samples.peakWorkingSet.push_back(start.memory.PeakWorkingSetSize / 1024.0);
    samples.workingSet.push_back(start.memory.WorkingSetSize / 1024.0);
    samples.privateBytes.push_back(start.privateCommitted / 1024.0);
  } else {
    samples.created.push_back(start.launcherCreatedMs);
    samples.exit.push_back(start.exitMs);
  }
}

// The two programs alternate, and which of them goes first alternates too.
void Measure(const std::wstring& stub, const std::wstring& minimal, int runs, DWORD sampleAfterMs,
             Samples& stubSamples, Samples& minimalSamples) {
  RunOnce(stub, sampleAfterMs);  // warm-up: file cache, Wine's DLLs
  RunOnce(minimal, sampleAfterMs);
  for (int i = 0; i < runs; ++i) {
    bool stubFirst = i % 2 == 0;
    Add(stubFirst ? stubSamples : minimalSamples,
        RunOnce(stubFirst ? stub : minimal, sampleAfterMs), sampleAfterMs != 0);
    Add(stubFirst ? minimalSamples : stubSamples,
        RunOnce(stubFirst ? minimal : stub, sampleAfterMs), sampleAfterMs != 0);
  }
}

// Starts that find a different stub waiting in content\bin\stub: the stub replaces
// itself and starts the new one, which starts the launcher. "exit" is the end of the
// replaced stub. Each start gets a fresh folder, as it leaves the new stub in place.
void MeasureUpdates(const std::wstring& work, const std::wstring& stub,
                    const std::wstring& launcher, int runs, Samples& samples) {
  // The stub with one more byte: whole, and different.
  std::wstring candidate = work + L"\\candidate.exe";
  CopyFileW(stub.c_str(), candidate.c_str(), FALSE);
  HANDLE file = CreateFileW(candidate.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, "Q", 1, &written, nullptr);
  CloseHandle(file);
  for (int i = 0; i <= runs; ++i) {
    std::wstring root = work + L"\\update-" + std::to_wstring(i);
    std::wstring program = LayOut(root, stub, launcher);
    CreateDirectoryW((root + L"\\live\\content\\bin\\stub").c_str(), nullptr);
    CopyFileW(candidate.c_str(), (root + L"\\live\\content\\bin\\stub\\Quillmere.exe").c_str(),
              FALSE);
    Start start = RunOnce(program, 0, 2);
    if (i > 0) Add(samples, start, false);  // the first one warms up
  }
}

void Row(const char* name, const std::vector<double>& a, const std::vector<double>& b,
         const std::vector<double>* c = nullptr, const char* format = "%.1f") {
  std::printf("| %s | %s | %s |", name, Cell(a, format).c_str(), Cell(b, format).c_str());
  if (c) std::printf(" %s |", Cell(*c, format).c_str());
  std::printf("\n");
}

void Compare(const char* what, std::initializer_list<double> stub,
             std::initializer_list<double> minimal, const char* unit) {
  std::printf("| %s |", what);
  for (auto s = stub.begin(), m = minimal.begin(); s != stub.end(); ++s, ++m) {
    std::printf(" %+.1f %s |", *s - *m, unit);
  }
  std::printf("\n| ratio stub / minimal |");
  for (auto s = stub.begin(), m = minimal.begin(); s != stub.end(); ++s, ++m) {
    std::printf(" %.3f |", *s / *m);
  }
  std::printf("\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 8) {
    std::fprintf(stderr,
                 "usage: start_bench <work dir> <stub> <minimal> <probe> <sleeper> "
                 "<timing runs> <memory runs>\n");
    return 2;
  }
  std::wstring work = argv[1];
  int runs = _wtoi(argv[6]), memoryRuns = _wtoi(argv[7]);
  DeleteTree(work);
  CreateDirectoryW(work.c_str(), nullptr);

  // The probe as launcher for the times; the sleeper, which stays a while, for memory.
  SetEnvironmentVariableW(L"QUILLMERE_PROBE_OUT", nullptr);
  SetEnvironmentVariableW(L"QUILLMERE_PROBE_EXIT", nullptr);
  Samples stubTimes, minimalTimes;
  Measure(LayOut(work + L"\\stub-probe", argv[2], argv[4]),
          LayOut(work + L"\\minimal-probe", argv[3], argv[4]), runs, 0, stubTimes, minimalTimes);
  std::printf("### Start-up time, %d starts each, interleaved\n\n", runs);
  std::printf(
      "Milliseconds from CreateProcessW of the program to the launcher's process being "
      "created, and to the program's exit; median (p25–p75).\n\n");
  std::printf("| program | launcher created (ms) | exit (ms) |\n|---|---|---|\n");
  Row("minimal_launcher.exe", minimalTimes.created, minimalTimes.exit);
  Row("Quillmere.exe", stubTimes.created, stubTimes.exit);
  Compare("difference of medians", {Median(stubTimes.created), Median(stubTimes.exit)},
          {Median(minimalTimes.created), Median(minimalTimes.exit)}, "ms");
  // The fastest starts are the least disturbed by whatever else the machine runs.
  std::printf("| difference of the fastest starts | %+.1f ms | %+.1f ms |\n",
              Quantile(stubTimes.created, 0) - Quantile(minimalTimes.created, 0),
              Quantile(stubTimes.exit, 0) - Quantile(minimalTimes.exit, 0));
  std::printf("\n");

  constexpr DWORD kSleepMs = 1200, kSampleAfterMs = 600;
  SetEnvironmentVariableW(L"QUILLMERE_BENCH_SLEEP_MS", std::to_wstring(kSleepMs).c_str());
  // The sleeper as launcher: a launcher that stays, as the game's does, so that a
  // replaced stub that waits on its successor shows it.
  Samples updateTimes;
  MeasureUpdates(work, argv[2], argv[5], runs, updateTimes);
  std::printf("### Update start, %d starts\n\n", runs);
  std::printf(
      "A stub that finds a different stub waiting, replaces itself and starts it; the "
      "new stub starts the launcher, which stays %lu ms. Milliseconds from "
      "CreateProcessW of the first stub to the launcher's process being created, "
      "and to the first stub's exit; median (p25–p75).\n\n",
      kSleepMs);
  std::printf(
      "| program | launcher created (ms) | exit of the replaced stub (ms) |\n"
      "|---|---|---|\n");
  Row("Quillmere.exe, replacing itself", updateTimes.created, updateTimes.exit);
  std::printf("\n");

  Samples stubMemory, minimalMemory;
  Measure(LayOut(work + L"\\stub-sleeper", argv[2], argv[5]),
          LayOut(work + L"\\minimal-sleeper", argv[3], argv[5]), memoryRuns, kSampleAfterMs,
          stubMemory, minimalMemory);
  std::printf("### Memory while waiting for the launcher, %d starts each\n\n", memoryRuns);
  std::printf(
      "KiB, %lu ms after the launcher was created: working sets from "
      "GetProcessMemoryInfo, private bytes as the committed private regions that "
      "VirtualQueryEx finds; median (p25–p75).\n\n",
      kSampleAfterMs);
  std::printf("| program | peak working set | working set | private bytes |\n|---|---|---|---|\n");
  Row("minimal_launcher.exe", minimalMemory.peakWorkingSet, minimalMemory.workingSet,
      &minimalMemory.privateBytes, "%.0f");
  Row("Quillmere.exe", stubMemory.peakWorkingSet, stubMemory.workingSet, &stubMemory.privateBytes,
      "%.0f");
  Compare("difference of medians",
          {Median(stubMemory.peakWorkingSet), Median(stubMemory.workingSet),
           Median(stubMemory.privateBytes)},
          {Median(minimalMemory.peakWorkingSet), Median(minimalMemory.workingSet),
           Median(minimalMemory.privateBytes)},
          "KiB");

  int failed = stubTimes.failed + minimalTimes.failed + stubMemory.failed + minimalMemory.failed +
               updateTimes.failed;
  if (failed) std::printf("\n**%d starts failed or timed out and are left out.**\n", failed);
  std::printf("\n");
  DeleteTree(work);
  return 0;
}
