// Drives the real Quillmere.exe as a black box: lays out install folders, starts the
// stub inside a job, reads and closes the message boxes of every process in the job,
// and collects what the probe programs recorded.
#pragma once

#include <gtest/gtest.h>

#include "base/handle.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace quillmere;

namespace e2e {

// What one start of the probe received.
struct ProbeRecord {
  std::wstring commandLine;
  std::wstring currentDirectory;
  std::wstring modulePath;
  bool echoSet = false;
  std::wstring echo;              // QUILLMERE_PROBE_ECHO as the probe saw it
  std::vector<std::wstring> argv; // CommandLineToArgvW of commandLine, argv[0] included
};

struct MessageBoxSeen {
  std::wstring caption;
  std::wstring text;
};

struct RunResult {
  uint32_t exitCode = 0;
  bool timedOut = false;            // the safety limit ended the job
  std::vector<MessageBoxSeen> boxes; // in the order they appeared
  std::vector<ProbeRecord> probes;   // one per probe start, in the order they ended
};

using EnvAdditions = std::vector<std::pair<std::wstring, std::wstring>>;

// Windows paths of the programs under test.
std::wstring StubExe();
std::wstring ProbeExe();

// Starts `exe` with the command line QuoteArg(exe) + " " + arguments (just the quoted
// path when arguments is empty) and the parent's environment plus `env` (replacing
// variables of the same name), in the Wine temp folder as current directory. Sets
// QUILLMERE_PROBE_OUT to a fresh file unless `env` names it. Closes every message box
// that a process of the job shows and waits until the whole job has ended; after 60 s
// it ends the job and fails the test.
RunResult RunStub(const std::wstring& exe, const std::wstring& arguments, const EnvAdditions& env = {});

// Quotes one argument so that CommandLineToArgvW gives it back; the harness's own
// rule, checked against CommandLineToArgvW by the tests that rely on it.
std::wstring QuoteArg(const std::wstring& arg);
std::wstring JoinArgs(const std::vector<std::wstring>& args);
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// File system helpers on absolute paths; each works through the \\?\ prefix, so deep
// trees beyond MAX_PATH are fine. Parents are created as needed. Failures are test
// failures (ADD_FAILURE), so a broken set-up never passes silently.
void MakeDirs(const std::wstring& dir);
void WriteBytes(const std::wstring& file, std::string_view bytes);
void CopyExe(const std::wstring& from, const std::wstring& to);
std::string ReadBytes(const std::wstring& file); // empty when it cannot be read
bool IsFile(const std::wstring& path);
bool IsDir(const std::wstring& path);
// Every entry under `dir`, relative, sorted, folders ending in "\\".
std::vector<std::wstring> ListTree(const std::wstring& dir);
bool DeleteTree(const std::wstring& dir);

// "{R}" in a pattern stands for the install root.
std::wstring Fill(std::wstring pattern, const std::wstring& root);

// Lays out ';'-separated entries under `root`: "a\\b\\" a folder, "*.exe" the probe,
// anything else a file holding its own file name, so that a tree laid out the same
// way elsewhere compares equal to one whose files were moved or copied there.
void MakeTree(const std::wstring& root, std::wstring_view entries);

// Holds `file` open as another program would, until the result is reset: by
// default as one that still writes it, sharing reading and writing but not
// deletion or renaming.
UniqueFile Hold(const std::wstring& file, unsigned long access = GENERIC_READ | GENERIC_WRITE,
                unsigned long share = FILE_SHARE_READ | FILE_SHARE_WRITE);

// Shows a wide string in ASCII for failure messages: non-printable and non-ASCII
// characters as \n, \t, \uXXXX.
std::string Show(std::wstring_view text);

// One fresh temporary folder per test, deleted at tear-down; the deletion must
// succeed, which catches a handle that the stub or a probe left open.
class InstallFolder : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A fresh folder `name` in this test's temporary folder, returned as full path.
  std::wstring NewRoot(const std::wstring& name);
  // The stub copied to <root>\Quillmere.exe; returns its path.
  std::wstring InstallStub(const std::wstring& root);
  // The probe copied to <root>\<relative>, e.g. content\bin\QuillmereLauncher.exe.
  std::wstring InstallProbe(const std::wstring& root, const std::wstring& relative);

  std::wstring dir_; // this test's temporary folder
};

}  // namespace e2e
