// Which instance and which folder layout reach the launcher: its program, instance
// root, resources folder and working directory, with the choice files readable or
// held open by another program.
#include <windows.h>

#include <functional>
#include <map>

#include "harness.h"

namespace e2e {
namespace {

// The first layout kept in force: the programs lie under the install root, and a file
// named live makes the content move of the migration fail.
constexpr const wchar_t* kLayout1 = L"live;dev\\;content\\bin\\QuillmereLauncher.exe";
constexpr const wchar_t* kBothInstances =
    L"live\\content\\bin\\QuillmereLauncher.exe;live\\content\\bin\\defaults.bin;live\\content\\resources\\vfs\\;"
    L"dev\\content\\bin\\QuillmereLauncher.exe;dev\\content\\bin\\defaults.bin;dev\\content\\resources\\vfs\\";

enum class Held { None, Settings, Layout };

using InstanceChoice = InstallFolder;

TEST_F(InstanceChoice, ReachesTheLauncher) {
  static constexpr struct {
    const char* settings;  // settings\launcher-settings.txt; nullptr: none
    const char* layout;    // settings\install-layout.txt; nullptr: none
    Held held;             // open for writing in another program while the stub runs
    const wchar_t* tree;   // MakeTree entries
    const wchar_t* extra;  // more of them
    const wchar_t* program, *instanceRoot, *resources;  // "{R}" is the install root
  } kCases[] = {
      {"server=dev\n", nullptr, Held::None, kLayout1, L"",
       LR"({R}\content\bin\QuillmereLauncher.exe)", LR"({R}\dev)", LR"({R}\content\resources)"},
      {"server=dev\n", nullptr, Held::None, kLayout1, L"dev\\content\\resources\\vfs\\",
       LR"({R}\content\bin\QuillmereLauncher.exe)", LR"({R}\dev)", LR"({R}\dev\content\resources)"},
      {"server=dev\n", nullptr, Held::None, kLayout1, L"dev\\content\\resources\\vfs",  // a file
       LR"({R}\content\bin\QuillmereLauncher.exe)", LR"({R}\dev)", LR"({R}\content\resources)"},
      {"server=live\n", "2\n", Held::None, kBothInstances, L"",
       LR"({R}\live\content\bin\QuillmereLauncher.exe)", LR"({R}\live)", LR"({R}\live\content\resources)"},
      {"server=dev\n", "2\n", Held::None, kBothInstances, L"",
       LR"({R}\dev\content\bin\QuillmereLauncher.exe)", LR"({R}\dev)", LR"({R}\dev\content\resources)"},
      // The instance's own resources even when they are missing (and nothing to fill from).
      {"server=dev\n", "2\n", Held::None, L"dev\\content\\bin\\QuillmereLauncher.exe", L"",
       LR"({R}\dev\content\bin\QuillmereLauncher.exe)", LR"({R}\dev)", LR"({R}\dev\content\resources)"},
      // A file that the launcher is still writing gives the default: live, layout 1.
      {"server=dev\n", "2\n", Held::Settings, kBothInstances, L"",
       LR"({R}\live\content\bin\QuillmereLauncher.exe)", LR"({R}\live)", LR"({R}\live\content\resources)"},
      {"server=dev\n", "2\n", Held::Layout, kLayout1, L"",
       LR"({R}\content\bin\QuillmereLauncher.exe)", LR"({R}\dev)", LR"({R}\content\resources)"},
  };
  int row = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE("row " + std::to_string(++row) + ": " + Show(c.tree) + ";" + Show(c.extra));
    std::wstring root = NewRoot(L"My Folder " + std::to_wstring(row));
    std::wstring stub = InstallStub(root);
    MakeTree(root, c.tree);
    MakeTree(root, c.extra);
    std::wstring settings = root + L"\\settings\\launcher-settings.txt", layout = root + L"\\settings\\install-layout.txt";
    if (c.settings) WriteBytes(settings, c.settings);
    if (c.layout) WriteBytes(layout, c.layout);
    UniqueFile hold;
    if (c.held != Held::None)
      hold = Hold(c.held == Held::Settings ? settings : layout, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);

    RunResult r = RunStub(stub, L"");
    hold.reset();
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    ASSERT_EQ(r.probes.size(), 1u);
    std::wstring program = Fill(c.program, root);
    EXPECT_EQ(Show(r.probes[0].modulePath), Show(program));
    EXPECT_EQ(Show(r.probes[0].currentDirectory), Show(program.substr(0, program.rfind(L'\\'))));
    std::vector<std::wstring> argv = {program, L"--instance-root", Fill(c.instanceRoot, root), L"--quillmere-settings",
                                      root + L"\\settings", L"--resources", Fill(c.resources, root)};
    EXPECT_EQ(r.probes[0].argv, argv);
  }
}

// Every entry under `dir`: folders as "<folder>", files by their bytes (long ones by
// size and hash, to keep failure output readable).
std::map<std::wstring, std::string> Snapshot(const std::wstring& dir) {
  std::map<std::wstring, std::string> entries;
  for (const auto& entry : ListTree(dir)) {
    std::string bytes = entry.back() == L'\\' ? "<folder>" : ReadBytes(dir + L"\\" + entry);
    if (bytes.size() > 64)
      bytes = "<" + std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>{}(bytes)) + ">";
    entries[entry] = bytes;
  }
  return entries;
}

// A complete first-layout folder with dev chosen: migrated, dev made from live, the
// layout recorded, the launcher started from dev; the second start changes nothing.
using Migration = InstallFolder;

TEST_F(Migration, Layout1FolderWithDevChosenIsMigratedAndDevFilled) {
  constexpr const wchar_t* kBefore =
      L"content\\bin\\QuillmereLauncher.exe;content\\bin\\defaults.bin;content\\resources\\vfs\\base.pak;"
      L"content\\cache\\downloads.db;logs\\quillmere.log;settings\\openmw.cfg";
  constexpr const wchar_t* kAfter =
      L"live\\content\\bin\\QuillmereLauncher.exe;live\\content\\bin\\defaults.bin;live\\content\\resources\\vfs\\base.pak;"
      L"live\\content\\cache\\downloads.db;live\\logs\\quillmere.log;live\\settings\\openmw.cfg;"
      L"dev\\content\\bin\\QuillmereLauncher.exe;dev\\content\\bin\\defaults.bin;dev\\content\\resources\\vfs\\base.pak;"
      L"dev\\logs\\;dev\\settings\\";
  std::wstring root = NewRoot(L"My Folder"), expected = NewRoot(L"expected");
  for (const auto& [dir, tree] : {std::pair{root, kBefore}, std::pair{expected, kAfter}}) {
    InstallStub(dir);
    MakeTree(dir, tree);
    WriteBytes(dir + L"\\settings\\launcher-settings.txt", "server=dev\n");
  }
  WriteBytes(expected + L"\\settings\\install-layout.txt", "2\n");
  for (int start = 1; start <= 2; ++start) {
    SCOPED_TRACE("start " + std::to_string(start));
    RunResult r = RunStub(root + L"\\Quillmere.exe", L"");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty());
    ASSERT_EQ(r.probes.size(), 1u);
    EXPECT_EQ(Show(r.probes[0].commandLine),
              Show(Fill(LR"("{R}\dev\content\bin\QuillmereLauncher.exe" --instance-root "{R}\dev" --quillmere-settings "{R}\settings" --resources "{R}\dev\content\resources")", root)));
    EXPECT_EQ(Show(r.probes[0].currentDirectory), Show(root + L"\\dev\\content\\bin"));
    EXPECT_EQ(Snapshot(root), Snapshot(expected));
  }
}

}  // namespace
}  // namespace e2e
