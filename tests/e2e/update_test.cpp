// Pending updates and the stub's own replacement, seen from outside: what the journal
// moves, which process starts which, with what, and what a busy file stops.
#include <windows.h>

#include "harness.h"

namespace e2e {
namespace {

constexpr const wchar_t* kLive =
    L"live\\content\\bin\\QuillmereLauncher.exe;live\\content\\bin\\defaults.bin;live\\content\\resources\\vfs\\;"
    L"live\\content\\bin\\stub\\;live\\content\\bin\\busy.txt";
constexpr const wchar_t* kUpdateMessage =
    L"An update could not be finished.\n\nA file was in use. Close Tarnvayle if it is still running, then try again.";

// A complete live instance of the current layout with an update pending.
class Update : public InstallFolder {
 protected:
  void SetUp() override {
    InstallFolder::SetUp();
    root_ = NewRoot(L"My Folder");
    stub_ = InstallStub(root_);
    MakeTree(root_, kLive);
    WriteBytes(root_ + L"\\settings\\install-layout.txt", "2\n");
  }
  void Stage(const std::wstring& name, const std::string& bytes) { WriteBytes(Cache(L"staging\\" + name), bytes); }
  std::wstring Cache(const std::wstring& name) { return root_ + L"\\live\\content\\cache\\" + name; }
  std::wstring Bin(const std::wstring& name) { return root_ + L"\\live\\content\\bin\\" + name; }
  // The launcher exits with 7, so an exit code of 0 means the old stub ended after the relaunch.
  RunResult Start(const std::wstring& arguments = L"") {
    return RunStub(stub_, arguments, {{L"QUILLMERE_PROBE_EXIT", L"7"}});
  }

  std::wstring root_, stub_;
  // A different stub that still runs: bytes appended to a program do not change what it does.
  const std::string newerStub_ = ReadBytes(StubExe()) + "newer";
};

TEST_F(Update, DeliveredStubReplacesItselfAndRelaunches) {
  static constexpr struct {
    bool probeAsStub;  // the probe, recording its own start, stands in for the new stub
    const wchar_t* started;
    const wchar_t* workingDirectory;
    const wchar_t* commandLine;  // "{R}" is the install root
  } kCases[] = {
      {false, LR"({R}\live\content\bin\QuillmereLauncher.exe)", LR"({R}\live\content\bin)",
       LR"("{R}\live\content\bin\QuillmereLauncher.exe" -x "a b" "" "d\"e" --instance-root "{R}\live" --quillmere-settings "{R}\settings" --resources "{R}\live\content\resources")"},
      {true, LR"({R}\Quillmere.exe)", LR"({R})", LR"("{R}\Quillmere.exe" -x "a b" "" "d\"e")"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.probeAsStub ? "the probe as the new stub" : "a newer stub");
    std::string candidate = c.probeAsStub ? ReadBytes(ProbeExe()) : newerStub_;
    Stage(L"stub.bin", candidate);
    WriteBytes(Cache(L"update-journal.txt"), "stub.bin|content/bin/stub/Quillmere.exe\r\n");
    RunResult r = Start(LR"("-x" a" "b "" d\"e)");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    ASSERT_EQ(r.probes.size(), 1u);
    EXPECT_EQ(Show(r.probes[0].modulePath), Show(Fill(c.started, root_)));
    EXPECT_EQ(Show(r.probes[0].currentDirectory), Show(Fill(c.workingDirectory, root_)));
    EXPECT_EQ(Show(r.probes[0].commandLine), Show(Fill(c.commandLine, root_)));
    EXPECT_FALSE(IsFile(Cache(L"update-journal.txt")));
    EXPECT_TRUE(ReadBytes(stub_) == candidate) << "the stub was not replaced";
    EXPECT_TRUE(ReadBytes(Bin(L"stub\\Quillmere.exe")) == candidate);
    EXPECT_FALSE(IsFile(stub_ + L".new"));
    if (c.probeAsStub) break;

    // The new stub may have met the old one still running; a later start clears the
    // old copy in any case, and finds nothing newer to install.
    if (!IsFile(stub_ + L".old")) CopyExe(StubExe(), stub_ + L".old");
    r = Start();
    EXPECT_EQ(r.exitCode, 7u);
    EXPECT_EQ(r.probes.size(), 1u);
    EXPECT_FALSE(IsFile(stub_ + L".old"));
    EXPECT_TRUE(ReadBytes(stub_) == candidate);
    // The probe's own run starts from a fresh stub.
    CopyExe(StubExe(), stub_);
  }
}

// A target held open stops the start at the update, with the other entries moved and
// a waiting newer stub left uninstalled; once it is free the next start finishes.
TEST_F(Update, BusyTargetStopsTheStartUntilReleased) {
  const std::string journal =
      "busy.txt|content/bin/busy.txt\nfree.txt|content\\bin\\free.txt\nstub.bin|content/bin/stub/Quillmere.exe\n";
  WriteBytes(Cache(L"update-journal.txt"), journal);
  Stage(L"busy.txt", "busy, updated");
  Stage(L"free.txt", "free, updated");
  Stage(L"stub.bin", newerStub_);
  const std::string oldStub = ReadBytes(stub_);
  // Another program reads the file and lets others read and write it, but not delete it.
  UniqueFile hold = Hold(Bin(L"busy.txt"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);

  RunResult r = Start();
  EXPECT_EQ(r.exitCode, 1u);
  EXPECT_TRUE(r.probes.empty());
  ASSERT_EQ(r.boxes.size(), 1u);
  EXPECT_EQ(Show(r.boxes[0].caption), "Vellmarrow: Quillmere");
  EXPECT_EQ(Show(r.boxes[0].text), Show(kUpdateMessage));
  EXPECT_EQ(ReadBytes(Cache(L"update-journal.txt")), journal);
  EXPECT_EQ(ReadBytes(Bin(L"busy.txt")), "busy.txt");
  EXPECT_EQ(ReadBytes(Bin(L"free.txt")), "free, updated");
  EXPECT_TRUE(ReadBytes(Bin(L"stub\\Quillmere.exe")) == newerStub_);
  EXPECT_TRUE(ReadBytes(stub_) == oldStub) << "a newer stub was installed after a failed update";
  EXPECT_EQ(ListTree(Cache(L"staging")), std::vector<std::wstring>{L"busy.txt"});

  hold.reset();
  r = Start();
  EXPECT_EQ(r.exitCode, 0u);  // the old stub, after it started the new one
  EXPECT_TRUE(r.boxes.empty());
  ASSERT_EQ(r.probes.size(), 1u);
  EXPECT_EQ(Show(r.probes[0].modulePath), Show(Bin(L"QuillmereLauncher.exe")));
  EXPECT_FALSE(IsFile(Cache(L"update-journal.txt")));
  EXPECT_EQ(ReadBytes(Bin(L"busy.txt")), "busy, updated");
  EXPECT_TRUE(ReadBytes(stub_) == newerStub_);
}

// A pending update is looked for in the layout found on disk, before the migration
// moves the tree that holds it.
using PendingUpdate = InstallFolder;

TEST_F(PendingUpdate, IsReplayedInTheLayoutOnDisk) {
  static constexpr struct {
    const char* settings;
    const wchar_t* journal;  // where the launcher left it
    const wchar_t* updated;  // where the updated file lies after the start
  } kCases[] = {
      {"server=live\n", L"content\\cache\\", L"live\\content\\bin\\defaults.bin"},
      {"server=dev\n", L"dev\\content\\cache\\", L"dev\\content\\bin\\defaults.bin"},
  };
  int row = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.settings);
    std::wstring root = NewRoot(L"root " + std::to_wstring(++row));
    MakeTree(root, L"content\\bin\\QuillmereLauncher.exe;content\\bin\\defaults.bin;content\\resources\\vfs\\;"
                   L"dev\\content\\bin\\QuillmereLauncher.exe;dev\\content\\bin\\defaults.bin;dev\\content\\resources\\vfs\\");
    WriteBytes(root + L"\\settings\\launcher-settings.txt", c.settings);
    WriteBytes(root + L"\\" + c.journal + L"update-journal.txt", "d|content/bin/defaults.bin\n");
    WriteBytes(root + L"\\" + c.journal + L"staging\\d", "updated");
    RunResult r = RunStub(InstallStub(root), L"");
    EXPECT_TRUE(r.boxes.empty());
    EXPECT_EQ(r.probes.size(), 1u);
    EXPECT_EQ(ReadBytes(root + L"\\" + c.updated), "updated");
    EXPECT_EQ(ReadBytes(root + L"\\settings\\install-layout.txt"), "2\n");
  }
}

}  // namespace
}  // namespace e2e
