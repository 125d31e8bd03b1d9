#include "startup/launch.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "base/files.h"
#include "base/handle.h"
#include "handover/child_program.h"
#include "handover/command_line.h"

namespace quillmere {

namespace {

// How long a new stub has to show that it runs. Its first start follows right on the
// writing of its file, which is when antivirus software scans a program it has never
// seen; a cloud look-up may hold that start up to a minute (Defender's longest wait).
// Only a stub that hangs while it loads costs the player this wait; a sound one cut
// off by it is tried again on the next start, when its scan is done.
constexpr DWORD kProofMs = 60000;
// Ending a process takes a moment; its file is renamed once it is gone.
constexpr DWORD kEndMs = 5000;

// The event by which the stub that started process `id` learns that it runs. Every
// stub build uses this name: one that does not is put back as broken.
std::wstring StubRunsEvent(DWORD id) { return L"Local\\Quillmere-stub-runs-" + HexName(id); }

struct StartedProcess {
  // Declared so that the thread handle is closed before the process handle, the job last.
  UniqueJob job;
  UniqueProcessHandle process;
  UniqueProcessHandle thread;
  DWORD id = 0;
};

// Under Wine, which players also run the game with, a start fails now and then with
// ERROR_INTERNAL_ERROR: the new process died before any of its code ran, for no
// lasting reason. Such a start is tried again, as is one that meets the program
// held for a moment (a scanner looking at a launcher just copied).
constexpr int kStartAttempts = 3;

bool SetJobLimits(HANDLE job, DWORD flags) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = flags;
  return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// A job that ends what is in it when its last handle, this stub's, closes: at this stub's
// end or its kill at any instant. Once let go, it limits nothing; what the program starts
// joins it, and may leave it as it would leave any job. (Not silent breakaway, which would
// keep those out: with jobs within jobs, it brings Wine's server down.)
UniqueJob MakeGuardJob() {
  UniqueJob job(CreateJobObjectW(nullptr, nullptr));
  if (job && !SetJobLimits(job.get(),
                           JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK)) {
    job.reset();
  }
  return job;
}

// Lets the program in the job outlive this stub; one started without a job outlives it anyway.
bool ReleaseFromGuard(HANDLE job) {
  return !job || SetJobLimits(job, JOB_OBJECT_LIMIT_BREAKAWAY_OK);
}

// Starts a program suspended, inside a guard job from its creation: a program whose parent
// dies before it runs (CreateProcessW itself resumes it only as it returns) would otherwise
// wait suspended for good. The command line must be writable for CreateProcessW, hence the
// copy.
bool StartProcess(const wchar_t* application, std::wstring commandLine,
                  const Path& workingDirectory, DWORD flags, StartedProcess& started) {
  started.job = MakeGuardJob();
  HANDLE jobs[] = {started.job.get()};
  // Room for the one attribute, which takes 48 bytes on x64.
  alignas(16) char space[128];
  STARTUPINFOEXW startup = {};
  auto guard = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(space);
  SIZE_T size = sizeof space;
  bool listed = started.job && InitializeProcThreadAttributeList(guard, 1, 0, &size);
  if (listed && !UpdateProcThreadAttribute(guard, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, jobs,
                                           sizeof jobs, nullptr, nullptr)) {
    DeleteProcThreadAttributeList(guard);
    listed = false;
  }
  PROCESS_INFORMATION info = {};
  std::uint32_t pause = 0;
  bool made = false;
  for (int attempt = 1; !made; ++attempt) {
    startup.StartupInfo.cb = listed ? sizeof startup : sizeof startup.StartupInfo;
    startup.lpAttributeList = listed ? guard : nullptr;
    DWORD extended = listed ? EXTENDED_STARTUPINFO_PRESENT : 0;
    made = CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE,
                          flags | CREATE_SUSPENDED | extended, nullptr, workingDirectory.c_str(),
                          &startup.StartupInfo, &info);
    if (made || (GetLastError() == ERROR_INTERNAL_ERROR && attempt < kStartAttempts)) continue;
    if (FailedOnFileInUse() && PauseBeforeRetry(pause)) continue;
    // The system may refuse the job itself (one within a job that does not allow it): the
    // program is then started as any other, rather than not at all.
    if (!listed) break;
    DeleteProcThreadAttributeList(guard);
    listed = false;
    started.job.reset();
  }
  if (listed) DeleteProcThreadAttributeList(guard);
  if (!made) return false;
  started.process = UniqueProcessHandle(info.hProcess);
  started.thread = UniqueProcessHandle(info.hThread);
  started.id = info.dwProcessId;
  return true;
}

// A working folder must be shorter than MAX_PATH - 1 characters: a deeper one is given in
// its short form, where the volume has one. (Wine starts no program from so deep a folder
// at all, so no test here can show it.)
std::wstring WorkingFolder(const Path& folder) {
  if (folder.size() < MAX_PATH - 1) return folder;
  std::wstring longForm = SystemPath(folder);
  DWORD size = GetShortPathNameW(longForm.c_str(), nullptr, 0);
  std::wstring shortForm(size, L'\0');
  DWORD length = size == 0 ? 0 : GetShortPathNameW(longForm.c_str(), shortForm.data(), size);
  shortForm = ClassicPath(shortForm.substr(0, length < size ? length : 0));
  return shortForm.empty() || shortForm.size() >= MAX_PATH - 1 ? folder : shortForm;
}

}  // namespace

void AppendStubArguments(std::wstring& commandLine) {
  const wchar_t* own = GetCommandLineW();
  if (!HasArgumentsAfterProgramName(own)) return;
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(own, &count);
  if (arguments == nullptr) return;
  if (count > 1) {
    AppendQuotedArguments(commandLine, std::span<const wchar_t* const>(arguments + 1, count - 1));
  }
  LocalFree(arguments);
}

bool RelaunchStub(const Path& newStub, const Path& installRoot) {
  std::wstring arguments;
  AppendStubArguments(arguments);
  std::wstring commandLine = BuildRelaunchCommandLine(newStub, arguments);
  StartedProcess started;
  // A new stub that Windows cannot load (a DLL it imports exists nowhere) would wait in
  // the system's error box for the player; with this mode, which it inherits, it ends.
  // Nor may one that crashes before its sign wait in the crash report's box. (Wine 8 passes
  // no error mode on to a child, so no test here can show either.)
  UINT mode = GetErrorMode();
  SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  bool began = StartProcess(SystemPath(newStub).c_str(), std::move(commandLine),
                            WorkingFolder(FolderArgument(installRoot)), 0, started);
  SetErrorMode(mode);
  if (!began) return false;
  // The event exists before the new stub runs, so its first step finds it. Only an event
  // that this start made is a sign: any program could have made one of that name, set,
  // for the ids the system hands out.
  UniqueEvent shown(CreateEventW(nullptr, TRUE, FALSE, StubRunsEvent(started.id).c_str()));
  bool made = shown && GetLastError() != ERROR_ALREADY_EXISTS;
  HANDLE signs[] = {shown.get(), started.process.get()};
  // The event comes first: a stub that showed it runs and then ended at once has run. Until
  // then it ends with this stub; from then on it carries the start on by itself.
  if (made && ResumeThread(started.thread.get()) != static_cast<DWORD>(-1) &&
      WaitForMultipleObjects(2, signs, FALSE, kProofMs) == WAIT_OBJECT_0 &&
      ReleaseFromGuard(started.job.get())) {
    return true;
  }
  TerminateProcess(started.process.get(), 1);
  WaitForSingleObject(started.process.get(), kEndMs);
  return false;
}

bool SignalStubRuns() {
  UniqueEvent shown(
      OpenEventW(EVENT_MODIFY_STATE, FALSE, StubRunsEvent(GetCurrentProcessId()).c_str()));
  return shown && SetEvent(shown.get());
}

ChildRun RunChildProgram(const Path& program, const std::wstring& commandLine,
                         const Path& workingDirectory) {
  StartedProcess started;
  // The launcher gets the system's default error mode, whatever a relaunch left this
  // stub with, so that the player sees its own load errors. Named in its extended form,
  // as the program name inside a command line is limited to MAX_PATH, it starts from any
  // depth (on Windows: Wine starts no program from so deep a folder).
  if (!StartProcess(SystemPath(program).c_str(), commandLine, WorkingFolder(workingDirectory),
                    CREATE_DEFAULT_ERROR_MODE, started)) {
    return {false, 0};
  }
  // Once it runs, the game outlives this stub, should the player end it.
  if (ResumeThread(started.thread.get()) == static_cast<DWORD>(-1) ||
      !ReleaseFromGuard(started.job.get())) {
    TerminateProcess(started.process.get(), 1);
    return {false, 0};
  }
  WaitForSingleObject(started.process.get(), INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(started.process.get(), &exitCode);
  return {true, exitCode};
}

}  // namespace quillmere
