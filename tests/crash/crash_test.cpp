// The real Quillmere.exe, killed at moments spread over its work and started again until
// a start reaches the launcher, on large folders; and fed damaged files. After each, the
// whole folder is compared. QUILLMERE_CRASH_KILLS sets the kills per scenario (8).
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>

#include "harness.h"

namespace e2e {
namespace {
using namespace std::string_literals;

using Files = std::map<std::wstring, std::string>;  // relative path: bytes, "<dir>" for a folder
const std::wstring kArgs = L"-x \"a b\"";
const std::wstring kSettings = L"settings\\launcher-settings.txt", kLayout = L"settings\\install-layout.txt";
const std::wstring kJournal = L"live\\content\\cache\\update-journal.txt", kStaging = L"live\\content\\cache\\staging\\";

std::string Bytes(unsigned seed, size_t size) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}
const std::string& Stub() { static const std::string bytes = ReadBytes(StubExe()); return bytes; }
// A newer stub: the real one with 24 MB appended, so that its copy takes a while.
const std::string& Candidate() { static const std::string bytes = Stub() + Bytes(9, 24 << 20); return bytes; }
std::wstring N(int i) { return std::to_wstring(i); }
void Put(const std::wstring& root, const std::wstring& file, std::string_view bytes) { WriteBytes(root + L"\\" + file, bytes); }
int Count(const std::wstring& dir) { return static_cast<int>(ListTree(dir).size()); }

// The stub, the install root's settings and a complete instance under `base`.
void PutStub(const std::wstring& root, const std::wstring& base, const char* server, const char* layout) {
  CopyExe(StubExe(), root + L"\\Quillmere.exe");
  if (layout) Put(root, kLayout, layout);
  Put(root, kSettings, server);
  CopyExe(ProbeExe(), base + L"\\content\\bin\\QuillmereLauncher.exe");
  Put(base, L"content\\bin\\defaults.bin", "defaults");
  MakeDirs(base + L"\\content\\resources\\vfs");
  MakeDirs(base + L"\\logs");
  MakeDirs(base + L"\\settings");
}

// The folder's files; a set-aside stub counts only when it is not whole.
Files Snapshot(const std::wstring& dir) {
  Files files;
  for (const auto& entry : ListTree(dir))
    files[entry] = entry.back() == L'\\' ? "<dir>" : ReadBytes(dir + L"\\" + entry);
  if (files.count(L"Quillmere.exe.old") && files[L"Quillmere.exe.old"] == Stub()) files.erase(L"Quillmere.exe.old");
  return files;
}

// The first few differences; thousands of files would bury them.
std::string Diff(const Files& want, const Files& got) {
  std::string out;
  int count = 0;
  auto note = [&](const std::wstring& path, const char* what) {
    if (++count <= 8) out += "\n  " + Show(path) + ": " + what;
  };
  for (const auto& [path, bytes] : want) {
    auto it = got.find(path);
    if (it == got.end()) note(path, "missing");
    else if (it->second != bytes) note(path, it->second.size() < bytes.size() ? "cut short" : "other bytes");
  }
  for (const auto& entry : got)
    if (!want.count(entry.first)) note(entry.first, "unexpected");
  return count ? std::to_string(count) + " differences:" + out : "";
}

// Brings the folder back from `now` to `before` (children sort after their folder).
void Restore(const std::wstring& root, const Files& before, const Files& now) {
  for (auto it = now.rbegin(); it != now.rend(); ++it) {
    std::wstring path = root + L"\\" + it->first;
    if (!before.count(it->first)) it->second == "<dir>" ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  }
  DeleteFileW((root + L"\\Quillmere.exe.old").c_str());
  for (const auto& [file, bytes] : before) {
    auto it = now.find(file);
    if (it == now.end() || it->second != bytes) bytes == "<dir>" ? MakeDirs(root + L"\\" + file) : Put(root, file, bytes);
  }
}

// The start ended in the launcher of `instance`, which got the stub's arguments and
// the three options; its exit code came back, or 0 from a stub that replaced itself.
void ExpectLauncher(const RunResult& r, const std::wstring& root, const std::wstring& instance,
                    uint32_t exitCode = 7) {
  EXPECT_EQ(r.exitCode, exitCode);
  EXPECT_TRUE(r.boxes.empty()) << Show(r.boxes.empty() ? L"" : r.boxes[0].text);
  std::wstring base = root + L"\\" + instance;
  std::vector<std::wstring> argv = {base + L"\\content\\bin\\QuillmereLauncher.exe", L"-x", L"a b",
                                    L"--instance-root", base, L"--quillmere-settings", root + L"\\settings",
                                    L"--resources", base + L"\\content\\resources"};
  ASSERT_EQ(r.probes.size(), 1u);
  EXPECT_EQ(r.probes[0].argv, argv);
}

double NowMs() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now), QueryPerformanceFrequency(&frequency);
  return 1000.0 * now.QuadPart / frequency.QuadPart;
}

// Starts the stub inside a job and watches the folder's progress; `after` ms after the
// first change (or, when negative, before the moment `expected` that a watched start saw
// it) ends the job: the stub, the stub that it relaunched and the launcher that it started.
// Process starts under Wine vary too much to time all kills from the start.
struct Watched {
  double first, span;  // ms from the start to the first change, from there to the last
};
Watched StartAndKill(const std::wstring& root, int (*progress)(const std::wstring&), double after,
                     double expected = 0) {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  // Wine can leave a process behind that was killed while it started another; it must
  // not hold on to the test's output.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  PROCESS_INFORMATION info{};
  std::wstring exe = root + L"\\Quillmere.exe", line = QuoteArg(exe) + L" " + kArgs;
  // Under Wine a start into the job failed twice in some 3000 (error 1359); the stub had
  // not run yet, so it is started again.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                             &startup, &info);
    if (started && !AssignProcessToJobObject(job, info.hProcess)) {
      TerminateProcess(info.hProcess, 9), CloseHandle(info.hThread), CloseHandle(info.hProcess);
      started = FALSE;
    }
    if (!started) printf("[ crash ] could not start the stub in a job, error %lu\n", GetLastError());
  }
  CloseHandle(nul);
  EXPECT_TRUE(started);
  if (started) ResumeThread(info.hThread);
  auto active = [&] {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr);
    return info.ActiveProcesses;
  };
  int previous = progress(root);
  double start = NowMs(), first = -1, last = 0;
  for (double t = 0, end = after < 0 ? expected + after : 1e9; active() > 0 && t < end; t = NowMs() - start) {
    if (int now = progress(root); now != previous) previous = now, last = t, first = first < 0 ? t : first;
    if (first >= 0) end = std::min(end, first + after);
    // Close watching around the first change and the kill: steps such as the
    // migration's moves follow each other within a millisecond.
    Sleep(first < 0 || t > end - 2 ? 0 : 1);
  }
  TerminateJobObject(job, 9);
  for (double end = NowMs() + 10000; active() > 0 && NowMs() < end;) Sleep(1);
  EXPECT_EQ(active(), 0u) << "processes outlived their job by 10 s";
  if (started) CloseHandle(info.hThread), CloseHandle(info.hProcess);
  CloseHandle(job);
  return {first, first < 0 ? 0 : last - first};
}

struct Scenario {
  const char* name;
  const wchar_t* instance;                    // the instance that the launcher is given
  void (*layOut)(const std::wstring& root);   // the folder before the first start
  void (*finish)(Files& files);               // turns it into what a finished start leaves
  int (*progress)(const std::wstring& root);  // how far the work has got
};

// Copies (or moves) every entry under `from` to `to`, both relative and ending in "\\".
void CopyUnder(Files& files, const std::wstring& from, const std::wstring& to, bool move = false) {
  for (auto it = files.lower_bound(from); it != files.end() && it->first.starts_with(from);) {
    files[to + it->first.substr(from.size())] = it->second;
    it = move ? files.erase(it) : std::next(it);
  }
}

void FillDev(Files& f) {
  f[L"dev\\"] = f[L"dev\\content\\"] = f[L"dev\\logs\\"] = f[L"dev\\settings\\"] = "<dir>";
  CopyUnder(f, L"live\\content\\bin\\", L"dev\\content\\bin\\");
  CopyUnder(f, L"live\\content\\resources\\", L"dev\\content\\resources\\");
}

constexpr Scenario kScenarios[] = {
    {"layout-1 migration, then a first dev fill", L"dev",
     [](const std::wstring& r) {
       PutStub(r, r, "server=dev\r\n", nullptr);
       Put(r, L"settings\\openmw.cfg", "data=vfs\n");
       Put(r, L"logs\\quillmere.log", Bytes(1, 5000));
       for (int i = 0; i < 400; ++i) Put(r, L"content\\resources\\vfs\\m" + N(i % 8) + L"\\" + N(i), Bytes(i, i * 7));
     },
     [](Files& f) {
       CopyUnder(f, L"content\\", L"live\\content\\", true), CopyUnder(f, L"logs\\", L"live\\logs\\", true);
       f[L"live\\settings\\openmw.cfg"] = f[L"settings\\openmw.cfg"], f.erase(L"settings\\openmw.cfg");
       f[L"live\\"] = f[L"live\\settings\\"] = "<dir>", f[kLayout] = "2\n";
       FillDev(f);
     },
     [](const std::wstring& r) {
       return !IsDir(r + L"\\content") + !IsDir(r + L"\\logs") + !IsFile(r + L"\\settings\\openmw.cfg") +
              IsFile(r + L"\\" + kLayout) + Count(r + L"\\dev");
     }},
    {"journal replay of 300 entries", L"live",
     [](const std::wstring& r) {
       PutStub(r, r + L"\\live", "server=live\n", "2\n");
       std::string journal = "# update 7\r\n";
       for (int i = 0; i < 300; ++i) {
         Put(r, kStaging + N(i), Bytes(1000 + i, 100 + i * 13));
         if (i % 2) Put(r, L"live\\content\\bin\\data\\t" + N(i), "old");
         std::string n = std::to_string(i);
         journal += n + (i % 3 ? "|content/bin/data/t" : "|content\\bin\\data\\t") + n + " \r\n";
       }
       Put(r, kJournal, journal);
     },
     [](Files& f) {
       f.erase(kJournal);
       for (int i = 0; i < 300; ++i) f[L"live\\content\\bin\\data\\t" + N(i)] = f[kStaging + N(i)], f.erase(kStaging + N(i));
     },
     [](const std::wstring& r) { return 300 - Count(r + L"\\live\\content\\cache\\staging") + !IsFile(r + L"\\" + kJournal); }},
    {"first dev fill from 2000 files", L"dev",
     [](const std::wstring& r) {
       PutStub(r, r + L"\\live", "server=dev\n", "2\n");
       Put(r, L"live\\content\\bin\\big.pak", Bytes(7, 6 << 20));
       for (int i = 0; i < 2000; ++i) Put(r, L"live\\content\\resources\\vfs\\d" + N(i % 20) + L"\\f" + N(i), Bytes(i, i % 1000));
     },
     FillDev, [](const std::wstring& r) { return Count(r + L"\\dev"); }},
    {"self-replacement by a stub 24 MB larger", L"live",
     [](const std::wstring& r) {
       PutStub(r, r + L"\\live", "server=live\n", "2\n");
       Put(r, L"live\\content\\bin\\stub\\Quillmere.exe", Candidate());
     },
     [](Files& f) { f[L"Quillmere.exe"] = Candidate(); },
     [](const std::wstring& r) {  // 1: new copy, 2: set-aside stub, 4: no stub, 8: the new stub in place
       std::wstring exe = r + L"\\Quillmere.exe";
       WIN32_FILE_ATTRIBUTE_DATA data{};
       bool replaced = GetFileAttributesExW(exe.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow != Stub().size();
       return IsFile(exe + L".new") + 2 * IsFile(exe + L".old") + 4 * !IsFile(exe) + 8 * replaced;
     }},
};

class Crash : public InstallFolder {
 protected:
  void Run(const Scenario& s) {
    SCOPED_TRACE(s.name);
    const char* setting = getenv("QUILLMERE_CRASH_KILLS");
    const int kills = std::max(2, setting ? atoi(setting) : 8);
    const std::wstring root = NewRoot(N(static_cast<int>(&s - kScenarios))), exe = root + L"\\Quillmere.exe";
    const std::wstring probeOut = dir_ + L"\\probe";
    SetEnvironmentVariableW(L"QUILLMERE_PROBE_OUT", probeOut.c_str());
    s.layOut(root);
    const Files before = Snapshot(root);
    Files want = before;
    s.finish(want);

    // Two uninterrupted starts give the span over which the kills are spread.
    double first = 1e9, span = 0;
    Files got = before;
    for (int watch = 0; watch < 2; ++watch) {
      Restore(root, before, got);
      DeleteFileW(probeOut.c_str());
      Watched seen = StartAndKill(root, s.progress, 1e9);
      first = std::min(first, seen.first), span = std::max(span, seen.span);
      ASSERT_TRUE(IsFile(probeOut)) << "the watched start did not reach the launcher";
      ASSERT_EQ(Diff(want, got = Snapshot(root)), "") << "after an uninterrupted start";
    }
    const int done = s.progress(root);

    // Each round restores the folder, kills up to three starts in a row, and lets the next
    // start run to the launcher. The moments walk the span in golden-ratio steps, so that
    // any number of kills spreads evenly; an eighth of the rounds begin with a kill in the
    // 3 ms before the first change, and a later kill of a round falls into what the
    // earlier ones left of the span.
    int gaps = 0, rounds = 0;
    std::vector<int> moments;
    for (int kill = 0; kill < kills; ++rounds) {
      SCOPED_TRACE("round " + std::to_string(rounds));
      Restore(root, before, got);
      bool gap = false, launched = false;
      double left = 1;
      for (int inRound = 0; inRound < 3 && kill < kills && !launched && !gap; ++inRound, ++kill) {
        double fraction = std::fmod(0.05 + (left < 1 ? kill : rounds) * 0.6180339887, 1.0);
        double after = left < 1 ? span * left * fraction
                       : fraction < 0.125 ? -24 * fraction : span * (fraction - 0.125) / 0.875;
        DeleteFileW(probeOut.c_str());
        StartAndKill(root, s.progress, after, first);
        left *= 1 - fraction;
        moments.push_back(s.progress(root));
        launched = IsFile(probeOut);  // the work was done before the kill
        gap = !IsFile(exe);
      }
      if (!gap) {
        uint32_t exitCode = ReadBytes(exe) == want[L"Quillmere.exe"] ? 7 : 0;
        ExpectLauncher(RunStub(exe, kArgs, {{L"QUILLMERE_PROBE_EXIT", L"7"}}), root, s.instance, exitCode);
        EXPECT_EQ(Diff(want, got = Snapshot(root)), "");
        continue;
      }
      // Killed between the stub's two renames: nothing is left to start, but neither
      // stub may have lost a byte.
      ++gaps;
      printf("[ crash ] %s, kill %d: between the two renames; no stub to start, this round ends\n", s.name, kill);
      EXPECT_TRUE(ReadBytes(exe + L".old") == Stub()) << "the set-aside stub is not whole";
      EXPECT_TRUE(ReadBytes(exe + L".new") == Candidate()) << "the new stub is not whole";
      got = Snapshot(root);
    }
    std::sort(moments.begin(), moments.end());
    std::string list;
    for (auto it = moments.begin(); it != moments.end();) {
      auto next = std::upper_bound(it, moments.end(), *it);
      list += " " + std::to_string(*it) + (next - it > 1 ? "x" + std::to_string(next - it) : "");
      it = next;
    }
    printf("[ crash ] %s: %d kills in %d rounds, at moments from 3 ms before the first change (%.1f ms after the "
           "start) to the last (%.1f ms later); progress when killed (finished: %d):%s; between the renames: %d\n",
           s.name, kills, rounds, first, span, done, list.c_str(), gaps);
    EXPECT_TRUE(DeleteTree(root));
  }
};

TEST_F(Crash, InterruptedStartsAreFinishedByTheNext) {
  for (const Scenario& s : kScenarios) Run(s);
}

// Damaged files: each ends in its default or in the update message, the folder unharmed
// but for the documented change, and nothing outside the instance root touched.
enum Outcome { kAsBefore, kLayoutRewritten, kJournalDropped, kJournalApplied, kUpdateRefused };
std::string Noise() { return Bytes(20240601, 65536); }
std::string Utf16(std::string out) {
  for (size_t i = out.size(); i > 0; --i) out.insert(i, 1, '\0');
  return "\xFF\xFE" + out;
}
std::string Huge(std::string head, std::string_view repeated, std::string_view tail) {
  while (head.size() < (5u << 20)) head += repeated;
  return head += tail;
}
std::string Many(char c, size_t n, std::string head = "") { return head + std::string(n, c); }

const struct {
  const char* name;
  const std::wstring& file;
  std::string (*bytes)();
  Outcome outcome;
} kHostile[] = {
    {"settings: noise", kSettings, Noise, kAsBefore},
    {"settings: UTF-16", kSettings, [] { return Utf16("server=dev\r\n"); }, kAsBefore},
    {"settings: 5 MB value", kSettings, [] { return Huge("server=", "dev", "\n"); }, kAsBefore},
    {"settings: NUL", kSettings, [] { return "server=dev\0\n"s; }, kAsBefore},
    {"settings: bars", kSettings, [] { return Many('|', 5000, "server="); }, kAsBefore},
    {"layout: noise", kLayout, Noise, kLayoutRewritten},
    {"layout: UTF-16", kLayout, [] { return Utf16("2\r\n"); }, kLayoutRewritten},
    {"layout: UTF-16 without mark", kLayout, [] { return "2\0\n\0"s; }, kAsBefore},
    {"layout: 5 MB of blanks", kLayout, [] { return Huge("", " ", "2\n"); }, kLayoutRewritten},
    {"layout: long number", kLayout, [] { return Many('9', 100000); }, kLayoutRewritten},
    {"layout: NUL first", kLayout, [] { return "\0" "2\n"s; }, kLayoutRewritten},
    {"journal: noise", kJournal, Noise, kJournalDropped},
    {"journal: UTF-16", kJournal, [] { return Utf16("s1|content\\bin\\target.txt\r\n"); }, kJournalDropped},
    {"journal: 5 MB of comments", kJournal, [] { return Huge("", "# c\n", "s1|content/bin/target.txt"); }, kJournalApplied},
    {"journal: long target", kJournal, [] { return Many('a', 40000, "s1|content\\bin\\"); }, kUpdateRefused},
    {"journal: long staged name", kJournal, [] { return Many('a', 40000) + "|content\\bin\\target.txt"; }, kJournalDropped},
    {"journal: bars", kJournal, [] { return Many('|', 5000); }, kJournalDropped},
    {"journal: bars after s1", kJournal, [] { return Many('|', 5000, "s1"); }, kUpdateRefused},
    {"journal: NUL in staged name", kJournal, [] { return "s1\0|content\\bin\\moved"s; }, kJournalDropped},
    {"journal: NUL in target", kJournal, [] { return "s1|content\\bin\\moved\0x"s; }, kJournalDropped},
    {"journal: ..\\..", kJournal, [] { return "s1|..\\..\\qm-escape"s; }, kJournalDropped},
    {"journal: ../../..", kJournal, [] { return "s1|../../../qm-escape"s; }, kJournalDropped},
    {"journal: dots and blanks", kJournal, [] { return "s1|content\\.. \\. .\\..\\qm-escape"s; }, kJournalDropped},
    {"journal: drive", kJournal, [] { return "s1|C:\\qm-escape"s; }, kJournalDropped},
    {"journal: drive-relative", kJournal, [] { return "s1|C:qm-escape"s; }, kJournalDropped},
    {"journal: UNC", kJournal, [] { return "s1|\\\\server\\share\\qm-escape"s; }, kJournalDropped},
    {"journal: rooted", kJournal, [] { return "s1|\\qm-escape"s; }, kJournalDropped},
    {"journal: device", kJournal, [] { return "s1|CON"s; }, kJournalDropped},
    {"journal: staged outside", kJournal, [] { return "..\\..\\..\\..\\secret.txt|content\\bin\\stolen"s; }, kJournalDropped},
};

class DamagedFiles : public InstallFolder {};

TEST_F(DamagedFiles, EndInTheirDefaultsOrTheUpdateMessage) {
  const std::wstring root = dir_ + L"\\hostile", parent = dir_.substr(0, dir_.rfind(L'\\'));
  const std::wstring escapes[] = {L"C:\\qm-escape", parent + L"\\qm-escape"};
  Put(dir_, L"outside.txt", "outside");
  for (const auto& c : kHostile) {
    SCOPED_TRACE(c.name);
    PutStub(root, root + L"\\live", "server=live\n", "2\n");
    Put(root, L"secret.txt", "secret");
    Put(root, L"live\\content\\bin\\target.txt", "old");
    Put(root, kStaging + L"s1", "staged");
    Put(root, c.file, c.bytes());
    Files want = Snapshot(dir_);
    if (c.outcome == kLayoutRewritten) want[L"hostile\\" + kLayout] = "2\n";
    if (c.outcome == kJournalDropped || c.outcome == kJournalApplied) want.erase(L"hostile\\" + kJournal);
    if (c.outcome == kJournalApplied)
      want[L"hostile\\live\\content\\bin\\target.txt"] = "staged", want.erase(L"hostile\\" + kStaging + L"s1");
    RunResult r = RunStub(root + L"\\Quillmere.exe", kArgs, {{L"QUILLMERE_PROBE_EXIT", L"7"}});
    if (c.outcome != kUpdateRefused) {
      ExpectLauncher(r, root, L"live");
    } else {
      EXPECT_EQ(r.exitCode, 1u);
      EXPECT_EQ(r.boxes.size(), 1u);
      for (const auto& box : r.boxes)
        EXPECT_EQ(Show(box.text), "An update could not be finished.\\n\\nA file was in use. Close Tarnvayle if "
                                  "it is still running, then try again.");
    }
    EXPECT_EQ(Diff(want, Snapshot(dir_)), "");
    for (const auto& escape : escapes) EXPECT_FALSE(IsFile(escape)) << Show(escape);
    ASSERT_TRUE(DeleteTree(root));
  }
}

}  // namespace
}  // namespace e2e
