// Layout migration, tree copy and instance preparation on real folders.
#include "install/migration.h"
#include "install/prepare.h"
#include "install/tree_copy.h"
#include "win_test.h"

#include <winioctl.h>  // after <windows.h>, which win_test.h brings

using namespace quillmere;

namespace {

using namespace wintest;
class Install : public Folder {};

#define LAYOUT_1 L"content\\bin\\x|logs\\l|settings\\openmw.cfg|settings\\launcher-settings.txt"
#define LIVE L"live\\|live\\content\\|live\\logs\\|live\\settings\\|"
#define RECORDED L"|settings\\|settings\\install-layout.txt=2\n"
#define LAYOUT_1_MIGRATED                                                                             \
  LIVE L"live\\content\\bin\\|live\\content\\bin\\x|live\\logs\\l|live\\settings\\openmw.cfg|" \
       L"settings\\launcher-settings.txt" RECORDED

TEST_F(Install, MigrationMovesWhatItCanAndRecordsOnlyFullSuccess) {
  static constexpr struct { const wchar_t* before; std::int32_t result; const wchar_t* after; } kCases[] = {
      {LAYOUT_1, 2, LAYOUT_1_MIGRATED},
      {LAYOUT_1 L"|settings\\install-layout.txt=1", 2, LAYOUT_1_MIGRATED},
      {L"content\\a|live\\content\\b", 2, LIVE L"content\\|content\\a|live\\content\\b" RECORDED},
      {L"content\\|logs", 2, LIVE L"logs" RECORDED},
      {L"content\\|settings\\openmw.cfg=old|live\\settings\\openmw.cfg=new", 2,
       LIVE L"live\\settings\\openmw.cfg=new|settings\\openmw.cfg=old" RECORDED},
      {L"content\\|settings\\openmw.cfg|live\\settings\\openmw.cfg\\", 2,
       LIVE L"live\\settings\\openmw.cfg\\|settings\\|settings\\openmw.cfg"},
      {L"content\\|dev", 2, LIVE L"dev" RECORDED},
      {L"content\\|dev\\", 2, LIVE L"dev\\|dev\\logs\\|dev\\settings\\" RECORDED},
      {L"content\\|dev\\settings", 2, LIVE L"dev\\|dev\\settings|dev\\logs\\"},
      {L"content\\|live", 1, nullptr},  // nullptr: unchanged
      {L"logs\\|settings\\openmw.cfg|dev\\", 1, nullptr},
      {L"content\\|dev\\|settings\\install-layout.txt=2\n", 2, nullptr},
      {L"content\\|dev\\|settings\\install-layout.txt=5", 5, nullptr},
      // Cut off after `live` was made, and after the content move.
      {L"live\\|content\\a|logs\\l", 2, LIVE L"live\\content\\a|live\\logs\\l" RECORDED},
      {L"live\\content\\a|logs\\l|settings\\openmw.cfg", 2,
       LIVE L"live\\content\\a|live\\logs\\l|live\\settings\\openmw.cfg" RECORDED},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Show(c.before));
    std::wstring root = Root();
    Lay(root, c.before);
    std::string before = Tree(root);
    EXPECT_EQ(MigrateInstallLayout(root), c.result);
    std::string after = Tree(root);
    EXPECT_EQ(after, c.after ? Sorted(c.after) : before);
    // Every step tests before it acts, so a second run changes nothing here.
    EXPECT_EQ(MigrateInstallLayout(root), c.result);
    EXPECT_EQ(Tree(root), after) << "second run";
  }
}

TEST_F(Install, CopyTreeAddsOnlyWhatTheTargetLacks) {
  enum Special { kNone, kSourceALocked, kLeftoverReadOnly };
  static constexpr struct { const wchar_t* before; Special special; const wchar_t* target; } kCases[] = {
      {L"", kNone, nullptr},  // nullptr: no target made
      {L"s=a file", kNone, nullptr},
      {L"s\\", kNone, L""},
      {L"s\\a=new|s\\d\\b=new|s\\d\\e\\c=new|t\\a=old|t\\d\\x=mine", kNone,
       L"a=old|d\\|d\\b=new|d\\e\\|d\\e\\c=new|d\\x=mine"},
      {L"s\\d\\f=1|s\\g=2|t\\d=a file", kNone, L"d=a file|g=2"},
      {L"s\\d=1|s\\g=2|t\\d\\", kNone, L"d\\|g=2"},
      {L"s\\.x=1|s\\..x=2|s\\.d\\.y=3", kNone, L".x=1|..x=2|.d\\|.d\\.y=3"},
      // A leftover of a cut-off copy never counts as the file and never travels.
      {L"s\\a=whole|s\\.quillmere-partial=cut|t\\.quillmere-partial=cut", kNone, L"a=whole"},
      {L"s\\a=locked|s\\b=2|t\\.quillmere-partial=cut", kSourceALocked, L"b=2"},
      // Windows' CopyFileW will not overwrite a read-only file (Wine's will).
      {L"s\\a=whole|t\\.quillmere-partial=cut", kLeftoverReadOnly, L"a=whole"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Show(c.before));
    std::wstring root = Root(), source = root + L"\\s", target = root + L"\\t";
    Lay(root, c.before);
    if (c.special == kLeftoverReadOnly)
      SetFileAttributesW((target + L"\\.quillmere-partial").c_str(), FILE_ATTRIBUTE_READONLY);
    std::string sourceBefore = Tree(source);
    {
      UniqueFile locked = c.special == kSourceALocked ? Hold(source + L"\\a", GENERIC_READ, 0) : UniqueFile();
      CopyTree(source, target);
    }
    EXPECT_EQ(Tree(source), sourceBefore);
    EXPECT_EQ(e2e::IsDir(target), c.target != nullptr);
    EXPECT_EQ(Tree(target), c.target ? Sorted(c.target) : "");
  }
}

// Wine does not enforce the classic limit, so only Windows shows a missing "\\?\".
TEST_F(Install, CopyTreeReachesPastTheClassicPathLimit) {
  std::wstring root = Root(), deep;
  for (int level = 0; level < 6; ++level) deep += std::wstring(50, static_cast<wchar_t>(L'a' + level)) + L"\\";
  // A name near the 255-character limit leaves no room for a suffix on a temporary name.
  std::wstring longName(240, L'n');
  Lay(root, L"s\\" + deep + L"f=deep|s\\" + deep + L"g\\|s\\" + longName + L"=long name");
  ASSERT_GT(root.size() + deep.size(), 300u);
  CopyTree(root + L"\\s", root + L"\\t");
  EXPECT_EQ(Tree(root + L"\\t"), Tree(root + L"\\s"));
  EXPECT_EQ(e2e::ReadBytes(root + L"\\t\\" + deep + L"f"), "deep");
  EXPECT_EQ(e2e::ReadBytes(root + L"\\t\\" + longName), "long name");
}

// A junction needs no privilege, unlike a directory symbolic link. Wine 8 makes
// neither: FSCTL_SET_REPARSE_POINT fails, and CreateSymbolicLinkW reports
// success but makes nothing.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  struct { DWORD tag; WORD length, reserved, nameAt, nameLength, printAt, printLength; wchar_t names[600]; } point{};
  std::wstring name = L"\\??\\" + target;
  name.copy(point.names, name.size());
  point.tag = IO_REPARSE_TAG_MOUNT_POINT;
  point.nameLength = static_cast<WORD>(name.size() * 2);
  point.printAt = static_cast<WORD>(point.nameLength + 2);
  point.length = static_cast<WORD>(8 + point.printAt + 2);
  CreateDirectoryW(link.c_str(), nullptr);
  UniqueFile folder(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  DWORD unused = 0;
  return folder &&
         DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, &point, 8 + point.length, nullptr, 0, &unused, nullptr);
}

TEST_F(Install, CopyTreeNeitherFollowsNorCopiesDirectoryLinks) {
  std::wstring root = Root(), loop = root + L"\\s\\loop";
  Lay(root, L"s\\f=1");
  bool made = MakeJunction(loop, root + L"\\s");
  if (made) CopyTree(root + L"\\s", root + L"\\t");
  // Removed by hand first: the fixture's clean-up would walk round the loop.
  RemoveDirectoryW(loop.c_str());
  if (!made) GTEST_SKIP() << "this system cannot make junctions (Wine 8 cannot)";
  EXPECT_EQ(Tree(root + L"\\t"), Sorted(L"f=1"));
}

#define LIVE_COMPLETE                                                                \
  L"live\\content\\bin\\QuillmereLauncher.exe=L|live\\content\\bin\\defaults.bin=D|" \
  L"live\\content\\resources\\vfs\\v=V|live\\content\\cache\\j=J|live\\logs\\l=1|live\\settings\\s=2"
#define DEV_FILLED                                                                                   \
  L"content\\|content\\bin\\|content\\bin\\defaults.bin=D|content\\resources\\|content\\resources\\vfs\\|" \
  L"content\\resources\\vfs\\v=V|logs\\|settings\\|"

TEST_F(Install, PrepareInstanceFillsOnlyAnIncompleteInstance) {
  static constexpr struct { const wchar_t* before; const wchar_t* instance; const wchar_t* after; } kCases[] = {
      {LIVE_COMPLETE, L"dev", DEV_FILLED L"content\\bin\\QuillmereLauncher.exe=L"},
      {L"dev\\content\\bin\\c=1|dev\\content\\resources\\r=2", L"live",
       L"content\\|content\\bin\\|content\\bin\\c=1|content\\resources\\|content\\resources\\r=2|logs\\|settings\\"},
      {LIVE_COMPLETE L"|dev\\content\\bin\\QuillmereClient.exe|dev\\content\\bin\\defaults.bin=mine|"
                     L"dev\\content\\resources\\vfs\\", L"dev", nullptr},  // nullptr: unchanged
      {L"live\\content\\resources\\vfs\\", L"dev", nullptr},
      {L"live\\content\\bin|live\\content\\resources\\vfs\\", L"dev", nullptr},
      {L"live\\content\\bin\\c=1", L"dev", L"content\\|content\\bin\\|content\\bin\\c=1|logs\\|settings\\"},
      // A fill that was cut off after the required items existed is finished.
      {LIVE_COMPLETE L"|dev\\.quillmere-filling|dev\\content\\bin\\QuillmereLauncher.exe=mine|"
                     L"dev\\content\\bin\\defaults.bin=D|dev\\content\\resources\\vfs\\",
       L"dev", DEV_FILLED L"content\\bin\\QuillmereLauncher.exe=mine"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << Show(c.instance) << " in " << Show(c.before));
    std::wstring root = Root(), instance = root + L"\\" + c.instance;
    std::wstring source = root + (c.instance == std::wstring_view(L"live") ? L"\\dev" : L"\\live");
    Lay(root, c.before);
    std::string sourceBefore = Tree(source), instanceBefore = Tree(instance);
    bool existed = e2e::IsDir(instance);
    PrepareInstance(root, c.instance);
    EXPECT_EQ(Tree(source), sourceBefore);
    EXPECT_EQ(e2e::IsDir(instance), existed || c.after);
    EXPECT_EQ(Tree(instance), c.after ? Sorted(c.after) : instanceBefore);
  }
}

}  // namespace
