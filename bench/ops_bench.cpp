// Throughput of the stub's two long operations against the plain platform calls
// and Wine's own copy tools, all in one Wine session.
//
//   ops_bench copy <work dir> <files> <MiB> <runs> [flat]
//   ops_bench journal <work dir> <entries> <runs>
//
// Every run starts from the same state, which is made outside the timed part;
// the methods take turns, and which goes first rotates.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <functional>

#include "base/files.h"
#include "bench.h"
#include "install/tree_copy.h"
#include "update/journal_format.h"
#include "update/journal_replay.h"

using namespace quillmere;

namespace {

struct Method {
  Method(const char* name, std::function<void()> reset, std::function<bool()> run,
         std::function<bool()> check)
      : name(name), reset(std::move(reset)), run(std::move(run)), check(std::move(check)) {}
  const char* name;
  std::function<void()> reset;  // before each run, not timed: the state it starts from
  std::function<bool()> run;    // false: it reported a failure
  std::function<bool()> check;  // after the run: did it do all of its work?
  std::vector<double> ms;
  int failed = 0;
};

void RunInTurns(std::vector<Method>& methods, int runs) {
  for (int i = 0; i < runs; ++i) {
    for (size_t k = 0; k < methods.size(); ++k) {
      Method& method = methods[(i + k) % methods.size()];
      method.reset();
      double t0 = NowMs();
      bool ok = method.run();
      method.ms.push_back(NowMs() - t0);
      if (!ok || !method.check()) ++method.failed;
    }
  }
}

// Ratios two ways: of the medians, and the median of the ratios within each
// round, which holds up better when the machine's load drifts between rounds.
void PrintTable(const std::vector<Method>& methods, const char* baseline, double units,
                const char* unit) {
  const Method* base = &methods[0];
  for (const Method& method : methods) {
    if (std::string(method.name) == baseline) base = &method;
  }
  std::printf(
      "| method | ms, median (p25–p75) | %s | ratio of medians | median of ratios per "
      "round |\n|---|---|---|---|---|\n",
      unit);
  for (const Method& method : methods) {
    std::vector<double> ratios;
    for (size_t i = 0; i < method.ms.size(); ++i) ratios.push_back(method.ms[i] / base->ms[i]);
    double median = Median(method.ms);
    std::printf("| %s%s | %s | %.1f | %.2f | %.2f |\n", method.name,
                method.failed ? " **(incomplete runs)**" : "", Cell(method.ms).c_str(),
                units / (median / 1000.0), median / Median(base->ms), Median(ratios));
  }
  std::printf("\nRatios are to the %s.\n\n", baseline);
}

// Deterministic bytes for file contents and sizes.
std::uint64_t Next(std::uint64_t& state) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  return state >> 33;
}

// ---- tree copy ----

struct Totals {
  long long files = 0, bytes = 0;
};

Totals Count(const std::wstring& dir) {
  Totals totals;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return totals;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Totals below = Count(dir + L"\\" + name);
      totals.files += below.files;
      totals.bytes += below.bytes;
    } else {
      ++totals.files;
      totals.bytes += (static_cast<long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return totals;
}

// Nested folders three deep; one file in a hundred is large and together they
// hold half of the bytes, the rest spread evenly between 1 KiB and twice their mean.
void MakeTree(const std::wstring& root, int files, long long bytes, bool flat) {
  CreateDirectoryW(root.c_str(), nullptr);
  std::vector<char> block(1 << 20);
  std::uint64_t state = 1;
  for (char& c : block) c = static_cast<char>(Next(state));
  int large = std::max(1, files / 100);
  long long largeSize = bytes / 2 / large;
  long long smallMean = (bytes - largeSize * large) / std::max(1, files - large);
  for (int i = 0; i < files; ++i) {
    wchar_t relative[64];
    if (flat)
      std::swprintf(relative, 64, L"\\flat");
    else
      std::swprintf(relative, 64, L"\\d%d\\e%d\\f%d", i % 7, i / 7 % 6, i / 42 % 4);
    std::wstring dir = root;
    for (wchar_t* part = std::wcschr(relative + 1, L'\\');; part = std::wcschr(part + 1, L'\\')) {
      dir = root + std::wstring(relative, part ? part - relative : std::wcslen(relative));
      CreateDirectoryW(dir.c_str(), nullptr);
      if (!part) break;
    }
    long long size = i % 100 == 0 ? largeSize : 1024 + Next(state) % (2 * smallMean - 2048);
    HANDLE file =
        CreateFileW((dir + L"\\file" + std::to_wstring(i) + L".dat").c_str(), GENERIC_WRITE, 0,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    for (long long left = size; left > 0;) {
      DWORD chunk = static_cast<DWORD>(std::min<long long>(left, block.size() - 4096)), written = 0;
      if (!WriteFile(file, block.data() + i % 4096, chunk, &written, nullptr) || !written) break;
      left -= written;
    }
    CloseHandle(file);
  }
}

// The plain walk: what a tree copy must do at the least, one CopyFileW per file.
// With `viaTemporary`, each file is copied to a temporary name first and renamed
// into place, the stub's way, to show what that costs on its own.
void CopyLoop(const std::wstring& source, const std::wstring& target, bool viaTemporary) {
  CreateDirectoryW(target.c_str(), nullptr);
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((source + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  std::wstring temporary = target + L"\\.partial";
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CopyLoop(source + L"\\" + name, target + L"\\" + name, viaTemporary);
    } else if (!viaTemporary) {
      CopyFileW((source + L"\\" + name).c_str(), (target + L"\\" + name).c_str(), TRUE);
    } else if (CopyFileW((source + L"\\" + name).c_str(), temporary.c_str(), FALSE)) {
      MoveFileExW(temporary.c_str(), (target + L"\\" + name).c_str(), 0);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

// The folders of `source`, empty, at `target`.
void MakeFolders(const std::wstring& source, const std::wstring& target) {
  CreateDirectoryW(target.c_str(), nullptr);
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((source + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L".." && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      MakeFolders(source + L"\\" + name, target + L"\\" + name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

// Runs a command line with its output thrown away; returns its exit code.
DWORD RunTool(std::wstring commandLine) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE null = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = null;
  PROCESS_INFORMATION info = {};
  DWORD exitCode = 0xFFFFFFFF;
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &info)) {
    WaitForSingleObject(info.hProcess, INFINITE);
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  CloseHandle(null);
  return exitCode;
}

int BenchCopy(const std::wstring& work, int files, long long mebibytes, int runs, bool flat) {
  std::wstring source = work + L"\\live", target = work + L"\\copy";
  MakeTree(source, files, mebibytes << 20, flat);
  Totals expected = Count(source);
  auto complete = [&] {
    Totals got = Count(target);
    return got.files == expected.files && got.bytes == expected.bytes;
  };
  // Every run starts with no dirty pages from the one before: Wine starts the
  // host's sync as it would a Windows program.
  auto reset = [&] {
    DeleteTree(target);
    RunTool(L"Z:\\bin\\sync");
  };
  auto resetFolders = [&] {
    DeleteTree(target);
    MakeFolders(source, target);
    RunTool(L"Z:\\bin\\sync");
  };
  std::wstring filling = work + L"\\filling";
  auto quoted = [](const std::wstring& path) { return L"\"" + path + L"\""; };
  std::vector<Method> methods = {
      {"CopyFileW loop", reset,
       [&] {
         CopyLoop(source, target, false);
         return true;
       },
       complete},
      {"CopyFileW to a temporary name + MoveFileExW loop", reset,
       [&] {
         CopyLoop(source, target, true);
         return true;
       },
       complete},
      // As a first fill does: the missing folder is built in a folder of its own on the
      // same volume and renamed into place.
      {"CopyTree (stub)", reset,
       [&] {
         CreateDirectoryW(filling.c_str(), nullptr);
         return CopyTree(source, target, filling, filling + L"\\tree");
       },
       complete},
      // As a fill into folders that are there: file by file, each renamed into place.
      {"CopyTree (stub), every folder there", resetFolders,
       [&] {
         CreateDirectoryW(filling.c_str(), nullptr);
         return CopyTree(source, target, filling, filling + L"\\tree");
       },
       complete},
      {"xcopy /E /I", reset,
       [&] {
         return RunTool(L"xcopy.exe " + quoted(source) + L" " + quoted(target) + L" /E /I") == 0;
       },
       complete},
  };
  // Some Wine versions ship robocopy as a stub that copies nothing; it is only
  // measured where it copies a trial file. Its exit codes below 8 mean success.
  auto robocopy = [&](const std::wstring& from, const std::wstring& to) {
    return RunTool(L"robocopy.exe " + quoted(from) + L" " + quoted(to) + L" /E") < 8;
  };
  std::wstring trial = work + L"\\robocopy-trial";
  CreateDirectoryW(trial.c_str(), nullptr);
  WriteWholeFile(trial + L"\\file", "x", 1);
  robocopy(trial, trial + L"-copy");
  bool robocopyWorks =
      GetFileAttributesW((trial + L"-copy\\file").c_str()) != INVALID_FILE_ATTRIBUTES;
  DeleteTree(trial);
  DeleteTree(trial + L"-copy");
  if (robocopyWorks) {
    methods.emplace_back(
        "robocopy /E", reset, [&] { return robocopy(source, target); }, complete);
  }
  RunInTurns(methods, runs);
  DeleteTree(target);
  std::printf("### Tree copy: %lld files, %.0f MiB, %s, %d runs per method\n\n", expected.files,
              expected.bytes / 1048576.0, flat ? "all in one folder" : "in 168 folders three deep",
              runs);
  PrintTable(methods, "CopyFileW loop", expected.bytes / 1048576.0, "MiB/s");
  if (!robocopyWorks)
    std::printf("robocopy.exe of this Wine copied nothing (a stub): not measured.\n\n");
  DeleteTree(source);
  return 0;
}

// ---- journal replay ----

int BenchJournal(const std::wstring& work, int entries, int runs) {
  std::wstring root = work + L"\\live", cache = root + L"\\content\\cache";
  std::wstring staging = cache + L"\\staging", journal = cache + L"\\update-journal.txt";
  for (const std::wstring& dir :
       {root, root + L"\\content", cache, staging, root + L"\\content\\data"}) {
    CreateDirectoryW(dir.c_str(), nullptr);
  }
  // A hundred folders of a hundred files each, for the staged files and for their
  // targets, which exist, as in an update. (Wine looks for a missing name case-
  // insensitively through the whole folder, so one flat folder of 10,000 files
  // would make the set-up between runs very slow; the timed moves find exact names.)
  std::string text;
  std::vector<std::wstring> sources, targets;
  for (int i = 0; i < entries; ++i) {
    char staged[32], target[64];
    std::snprintf(staged, sizeof staged, "s%02d\\s%05d.bin", i % 100, i);
    std::snprintf(target, sizeof target, "content\\data\\d%02d\\f%05d.bin", i % 100, i);
    text += std::string(staged) + "|" + target + "\r\n";
    sources.push_back(staging + L"\\" + std::wstring(staged, staged + std::strlen(staged)));
    targets.push_back(root + L"\\" + std::wstring(target, target + std::strlen(target)));
    for (const std::wstring* path : {&sources.back(), &targets.back()}) {
      if (i < 100) CreateDirectoryW(path->substr(0, path->rfind(L'\\')).c_str(), nullptr);
    }
    WriteWholeFile(targets.back(), "old", 3);
  }
  std::string content(1024, 'n');
  auto writeJournal = [&] {
    WriteWholeFile(journal, text.data(), static_cast<DWORD>(text.size()));
  };
  auto reset = [&] {
    for (const std::wstring& source : sources) {
      WriteWholeFile(source, content.data(), static_cast<DWORD>(content.size()));
    }
    writeJournal();
  };
  auto allMoved = [&] {
    for (size_t i = 0; i < sources.size(); i += 97) {
      if (GetFileAttributesW(sources[i].c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    }
    return GetFileAttributesW(sources.back().c_str()) == INVALID_FILE_ATTRIBUTES;
  };
  auto moveLoop = [&](bool testFirst) {
    bool ok = true;
    for (size_t i = 0; i < sources.size(); ++i) {
      if (testFirst && GetFileAttributesW(sources[i].c_str()) == INVALID_FILE_ATTRIBUTES) continue;
      ok &= MoveFileExW(sources[i].c_str(), targets[i].c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
    }
    return ok;
  };
  size_t parsed = 0;
  std::vector<Method> methods = {
      {"MoveFileExW loop", reset, [&] { return moveLoop(false); }, allMoved},
      {"GetFileAttributesW + MoveFileExW loop", reset, [&] { return moveLoop(true); }, allMoved},
      {"ReplayUpdateJournal (stub)", reset,
       [&] { return ReplayUpdateJournal(root) == FileResult::kDone; },
       [&] {
         return allMoved() && GetFileAttributesW(journal.c_str()) == INVALID_FILE_ATTRIBUTES;
       }},
      {"read and parse the journal only (stub's code, no moves)", writeJournal,
       [&] {
         FileBytes bytes = ReadFileBytes(journal, 4096);
         parsed = ParseUpdateJournal(bytes.bytes).size();
         return bytes.complete;
       },
       [&] { return parsed == sources.size(); }},
  };
  RunInTurns(methods, runs);
  std::printf("### Journal replay: %d entries of 1 KiB files, %d runs per method\n\n", entries,
              runs);
  PrintTable(methods, "MoveFileExW loop", entries, "entries/s");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"";
  if (!(mode == L"copy" && (argc == 6 || argc == 7)) && !(mode == L"journal" && argc == 5)) {
    std::fprintf(stderr,
                 "usage: ops_bench copy <work dir> <files> <MiB> <runs> [flat]\n"
                 "       ops_bench journal <work dir> <entries> <runs>\n");
    return 2;
  }
  std::wstring work = argv[2];
  DeleteTree(work);
  CreateDirectoryW(work.c_str(), nullptr);
  int result = mode == L"copy" ? BenchCopy(work, _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]),
                                           argc == 7 && std::wstring(argv[6]) == L"flat")
                               : BenchJournal(work, _wtoi(argv[3]), _wtoi(argv[4]));
  DeleteTree(work);
  return result;
}
