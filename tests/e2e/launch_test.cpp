// Start-up and launch of the real Quillmere.exe: which program it starts, with which
// command line, working directory and environment, what it passes back, and what the
// player sees when it cannot start anything.
#include <windows.h>

#include <random>

#include "harness.h"

namespace e2e {
namespace {

constexpr const wchar_t* kCaption = L"Vellmarrow: Quillmere";
// The programs under the current layout's live instance.
constexpr const wchar_t* kLauncher = L"live\\content\\bin\\QuillmereLauncher.exe";
constexpr const wchar_t* kClient = L"live\\content\\bin\\QuillmereClient.exe";
constexpr const wchar_t* kCannotStart =
    L"Quillmere could not be started.\n\nAntivirus software sometimes blocks this. Allow the Quillmere "
    L"folder and try again.";

std::wstring MissingPart(const std::wstring& program) {
  return L"Quillmere is missing part of its installation.\n\nExpected to find:\n" + program +
         L"\n\nExtract the whole Quillmere folder from the download, keeping it intact.";
}

// The three options that always end the child's command line, for an install root
// that needs quoting, in the current layout with the live instance.
std::wstring QuotedOptions(const std::wstring& root) {
  return Fill(LR"( --instance-root "{R}\live" --quillmere-settings "{R}\settings" --resources "{R}\live\content\resources")", root);
}

class Launch : public InstallFolder {
 protected:
  // An install root with a blank in its name, in the current layout with a complete
  // live instance (so nothing is migrated or filled), a probe as the launcher.
  std::wstring LayOut(const std::wstring& name = L"My Folder") {
    std::wstring root = NewRoot(name);
    InstallStub(root);
    WriteBytes(root + L"\\settings\\install-layout.txt", "2\n");
    InstallProbe(root, kLauncher);
    WriteBytes(root + L"\\live\\content\\bin\\defaults.bin", "defaults");
    MakeDirs(root + L"\\live\\content\\resources\\vfs");
    return root;
  }

  // No program is laid out, so no limit on starting the child gets in the way.
  void CheckDeepStub(size_t stubLength) {
    const std::wstring name = L"\\Quillmere.exe";
    std::wstring root = dir_;
    while (root.size() + name.size() < stubLength) {
      size_t left = stubLength - name.size() - root.size();
      std::wstring part = L"\\deep folder ";
      part.resize(left > 120 ? 60 : left, L'x');
      root += part;
    }
    std::wstring stub = root + name;
    ASSERT_EQ(stub.size(), stubLength);
    // Try the platform first with the probe in the stub's place.
    CopyExe(ProbeExe(), stub);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring line = QuoteArg(stub);
    if (!CreateProcessW(stub.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      GTEST_SKIP() << "this platform cannot start a program from a path of " << stubLength
                   << " characters (CreateProcessW error " << GetLastError() << ")";
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);

    CopyExe(StubExe(), stub);
    RunResult r = RunStub(stub, L"");
    EXPECT_EQ(r.exitCode, 1u);
    ASSERT_EQ(r.boxes.size(), 1u);
    // With no content folder anywhere the first layout stays in force: the programs
    // are looked for under the install root itself.
    EXPECT_EQ(Show(r.boxes[0].text), Show(MissingPart(root + L"\\content\\bin\\QuillmereClient.exe")));
  }
};

// Everything the launcher receives: application, command line, working directory.
TEST_F(Launch, ChildGetsItsCommandLineAndWorkingDirectory) {
  static constexpr struct {
    const wchar_t* root = L"My Folder";
    const char* layoutFile = nullptr;      // settings\install-layout.txt; nullptr: none
    const wchar_t* emptyFile = nullptr;    // laid out as well, e.g. to block the migration
    const wchar_t* program = nullptr;      // where the probe is laid out
    const wchar_t* started = nullptr;      // where it runs from, when it was moved first
    const wchar_t* arguments = L"";
    const wchar_t* commandLine = nullptr;  // "{R}" stands for the install root
    const wchar_t* workingDirectory = nullptr;
  } kCases[] = {
      {.layoutFile = "2\n",
       .program = LR"(live\content\bin\QuillmereLauncher.exe)",
       .arguments = LR"("x y")",
       .commandLine = LR"("{R}\live\content\bin\QuillmereLauncher.exe" "x y" --instance-root "{R}\live" --quillmere-settings "{R}\settings" --resources "{R}\live\content\resources")",
       .workingDirectory = LR"({R}\live\content\bin)"},
      // Nothing to quote: no quotes added.
      {.root = L"Plain",
       .layoutFile = "2\n",
       .program = LR"(live\content\bin\QuillmereLauncher.exe)",
       .commandLine = LR"({R}\live\content\bin\QuillmereLauncher.exe --instance-root {R}\live --quillmere-settings {R}\settings --resources {R}\live\content\resources)",
       .workingDirectory = LR"({R}\live\content\bin)"},
      {.layoutFile = "2\n",
       .program = LR"(live\content\bin\QuillmereClient.exe)",
       .commandLine = LR"("{R}\live\content\bin\QuillmereClient.exe" --instance-root "{R}\live" --quillmere-settings "{R}\settings" --resources "{R}\live\content\resources")",
       .workingDirectory = LR"({R}\live\content\bin)"},
      // A folder of the first layout is migrated before anything is started.
      {.program = LR"(content\bin\QuillmereLauncher.exe)",
       .started = LR"({R}\live\content\bin\QuillmereLauncher.exe)",
       .commandLine = LR"("{R}\live\content\bin\QuillmereLauncher.exe" --instance-root "{R}\live" --quillmere-settings "{R}\settings" --resources "{R}\live\content\resources")",
       .workingDirectory = LR"({R}\live\content\bin)"},
      // A file named live blocks the migration: the first layout stays in force.
      {.emptyFile = L"live",
       .program = LR"(content\bin\QuillmereLauncher.exe)",
       .arguments = LR"("x y")",
       .commandLine = LR"("{R}\content\bin\QuillmereLauncher.exe" "x y" --instance-root "{R}" --quillmere-settings "{R}\settings" --resources "{R}\content\resources")",
       .workingDirectory = LR"({R}\content\bin)"},
  };
  if (dir_.find_first_of(L" \t\"") != std::wstring::npos) GTEST_SKIP() << "the temp folder needs quoting itself";
  int row = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE("row " + std::to_string(++row));
    std::wstring root = NewRoot(c.root + std::to_wstring(row));
    std::wstring stub = InstallStub(root);
    std::wstring program = InstallProbe(root, c.program);
    if (c.layoutFile) WriteBytes(root + L"\\settings\\install-layout.txt", c.layoutFile);
    if (c.emptyFile) WriteBytes(root + L"\\" + c.emptyFile, "");
    RunResult r = RunStub(stub, c.arguments);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    ASSERT_EQ(r.probes.size(), 1u);
    const ProbeRecord& p = r.probes[0];
    EXPECT_EQ(Show(p.modulePath), Show(c.started ? Fill(c.started, root) : program));
    EXPECT_EQ(Show(p.commandLine), Show(Fill(c.commandLine, root)));
    EXPECT_EQ(Show(p.currentDirectory), Show(Fill(c.workingDirectory, root)));
  }
}

TEST_F(Launch, EnvironmentIsPassedOn) {
  std::wstring root = LayOut();
  const std::wstring value = L"a=b c\u00e9\u2603";
  RunResult r = RunStub(root + L"\\Quillmere.exe", L"", {{L"QUILLMERE_PROBE_ECHO", value}});
  ASSERT_EQ(r.probes.size(), 1u);
  EXPECT_TRUE(r.probes[0].echoSet);
  EXPECT_EQ(Show(r.probes[0].echo), Show(value));
}

// The stub's own arguments, as its command line splits them, are passed on quoted
// anew before the options; the launcher splits them back unchanged.
TEST_F(Launch, StubArgumentsArePassedOnQuotedAnew) {
  static constexpr struct {
    const wchar_t* arguments; // the stub's command line after its path
    const wchar_t* passedOn;  // what stands between the program path and the options
  } kCases[] = {
      {L"", L""},
      {LR"(-x "a b")", LR"( -x "a b")"},
      {LR"("-x" a" "b)", LR"( -x "a b")"}, // split and quoted anew, not copied as text
      {LR"("")", LR"( "")"},
      {LR"(a "" b)", LR"( a "" b)"},
      {LR"("C:\My Games\\")", LR"( "C:\My Games\\")"},
      {LR"(C:\dir\)", LR"( C:\dir\)"},
      {LR"("say \"hi\"")", LR"( "say \"hi\"")"},
      {LR"(a\\\"b)", LR"( "a\\\"b")"},
      {LR"("a\\b c")", LR"( "a\\b c")"},
      {L"\"a\tb\"", L" \"a\tb\""},
      {L"a\nb \"c\vd\"", L" a\nb c\vd"}, // line feeds and vertical tabs need no quotes
      {L"\"\u00e9 \u0436\" \u6f22", L" \"\u00e9 \u0436\" \u6f22"},
      {L"--instance-root x", L" --instance-root x"},
  };
  std::wstring root = LayOut();
  std::wstring stub = root + L"\\Quillmere.exe";
  std::wstring program = root + L"\\" + kLauncher;
  for (const auto& c : kCases) {
    SCOPED_TRACE("stub arguments: " + Show(c.arguments));
    RunResult r = RunStub(stub, c.arguments);
    ASSERT_EQ(r.probes.size(), 1u);
    EXPECT_EQ(Show(r.probes[0].commandLine), Show(QuoteArg(program) + c.passedOn + QuotedOptions(root)));
    // The OS is the oracle: the launcher gets exactly what the stub was given.
    std::vector<std::wstring> expected = SplitCommandLine(QuoteArg(stub) + L" " + c.arguments);
    expected[0] = program;
    for (auto option : {L"--instance-root", L"{R}\\live", L"--quillmere-settings", L"{R}\\settings", L"--resources",
                        L"{R}\\live\\content\\resources"})
      expected.push_back(Fill(option, root));
    EXPECT_EQ(r.probes[0].argv, expected);
  }
}

// Random argument lists through the whole chain: harness command line, the stub's
// split and re-quoting, the launcher's split. The quoting itself is checked with
// thousands of lists against CommandLineToArgvW by the core tests; each start here
// costs a process or two under Wine, so a few dozen lists do.
TEST_F(Launch, RandomArgumentListsReachTheLauncherUnchanged) {
  static constexpr wchar_t kAlphabet[] = {L'a', L'b', L'-', L' ', L' ', L'\t', L'"', L'"', L'\\', L'\\',
                                          L'\\', L'\n', L'\v', L'=', L'\u00e9', L'\u0436', L'\u6f22', L'\''};
  constexpr unsigned kSeed = 20240611;
  constexpr int kStarts = 40;
  std::mt19937 random(kSeed);
  auto pick = [&](int n) { return static_cast<int>(random() % n); };

  std::wstring root = LayOut();
  std::wstring stub = root + L"\\Quillmere.exe";
  for (int start = 0; start < kStarts; ++start) {
    std::vector<std::wstring> args(pick(6));
    for (auto& arg : args)
      for (int n = pick(9); n > 0; --n) arg += kAlphabet[pick(std::size(kAlphabet))];
    std::string shown;
    for (const auto& arg : args) shown += " [" + Show(arg) + "]";
    SCOPED_TRACE("seed " + std::to_string(kSeed) + ", start " + std::to_string(start) + ", arguments" + shown);

    std::wstring line = JoinArgs(args);
    std::vector<std::wstring> split = SplitCommandLine(QuoteArg(stub) + L" " + line);
    ASSERT_EQ(std::vector<std::wstring>(split.begin() + 1, split.end()), args) << "the harness's own quoting";

    RunResult r = RunStub(stub, line);
    ASSERT_EQ(r.probes.size(), 1u);
    const auto& argv = r.probes[0].argv;
    ASSERT_EQ(argv.size(), args.size() + 7);
    EXPECT_EQ(std::vector<std::wstring>(argv.begin() + 1, argv.end() - 6), args);
    EXPECT_EQ(argv[argv.size() - 6], L"--instance-root");
    EXPECT_EQ(argv[argv.size() - 5], root + L"\\live");
  }
}

enum class Kind { Absent, File, Folder };

// The launcher whenever it is a file, else the client; message 3 names the client's
// path when neither is a file.
TEST_F(Launch, LauncherComesBeforeClient) {
  static constexpr struct {
    Kind launcher, client;
    const wchar_t* started; // nullptr: nothing, the missing-part message
  } kCases[] = {
      {Kind::File, Kind::File, kLauncher},     {Kind::File, Kind::Absent, kLauncher},
      {Kind::File, Kind::Folder, kLauncher},   {Kind::Absent, Kind::File, kClient},
      {Kind::Folder, Kind::File, kClient},     {Kind::Absent, Kind::Absent, nullptr},
      {Kind::Folder, Kind::Folder, nullptr},   {Kind::Folder, Kind::Absent, nullptr},
  };
  int row = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE("launcher " + std::to_string(static_cast<int>(c.launcher)) + ", client " +
                 std::to_string(static_cast<int>(c.client)) + " (0 absent, 1 file, 2 folder)");
    std::wstring root = NewRoot(L"case " + std::to_wstring(++row));
    std::wstring stub = InstallStub(root);
    WriteBytes(root + L"\\settings\\install-layout.txt", "2\n");
    MakeDirs(root + L"\\live\\content\\bin");
    for (auto [kind, program] : {std::pair{c.launcher, kLauncher}, std::pair{c.client, kClient}}) {
      if (kind == Kind::File) InstallProbe(root, program);
      if (kind == Kind::Folder) MakeDirs(root + L"\\" + program);
    }
    RunResult r = RunStub(stub, L"");
    if (c.started) {
      EXPECT_EQ(r.exitCode, 0u);
      EXPECT_TRUE(r.boxes.empty());
      ASSERT_EQ(r.probes.size(), 1u);
      EXPECT_EQ(r.probes[0].modulePath, root + L"\\" + c.started);
    } else {
      EXPECT_EQ(r.exitCode, 1u);
      EXPECT_TRUE(r.probes.empty());
      ASSERT_EQ(r.boxes.size(), 1u);
      EXPECT_EQ(r.boxes[0].caption, kCaption);
      EXPECT_EQ(Show(r.boxes[0].text), Show(MissingPart(root + L"\\" + kClient)));
    }
  }
}

// A launcher file that is no program: the start fails (error 193 under Wine and
// Windows alike) and the stub says so instead of trying the client.
TEST_F(Launch, UnstartableLauncherShowsCannotStart) {
  std::wstring root = LayOut();
  WriteBytes(root + L"\\" + kLauncher, "This is no program, just text in a file named .exe\r\n");
  InstallProbe(root, kClient);
  RunResult r = RunStub(root + L"\\Quillmere.exe", L"");
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_TRUE(r.probes.empty());
  ASSERT_EQ(r.boxes.size(), 1u);
  EXPECT_EQ(r.boxes[0].caption, kCaption);
  EXPECT_EQ(Show(r.boxes[0].text), Show(kCannotStart));
}

TEST_F(Launch, ChildExitCodeIsPassedThroughWhole) {
  static constexpr uint32_t kCodes[] = {3, 0xC0000005, 0x80000000, 0xFFFFFFFF};
  std::wstring root = LayOut();
  for (uint32_t code : kCodes) {
    RunResult r = RunStub(root + L"\\Quillmere.exe", L"", {{L"QUILLMERE_PROBE_EXIT", std::to_wstring(code)}});
    EXPECT_EQ(r.probes.size(), 1u) << code;
    EXPECT_TRUE(r.boxes.empty()) << code;
    EXPECT_EQ(r.exitCode, code) << std::hex << "0x" << code;
  }
}

// The stub's own path at and beyond MAX_PATH: its whole folder is still found, as the
// missing-part message shows.
TEST_F(Launch, StubAtLongestStartablePathFindsItsFolder) { CheckDeepStub(259); }
TEST_F(Launch, StubBeyondMaxPathFindsItsFolder) { CheckDeepStub(300); }

}  // namespace
}  // namespace e2e
