// Replaying the update journal and replacing the stub's file, on real folders.
#include "update/journal_replay.h"
#include "update/self_replace.h"
#include "win_test.h"

using namespace quillmere;

namespace {

using namespace wintest;
class Update : public Folder {};

#define ST L"content\\cache\\staging\\"

TEST_F(Update, ReplayMovesStagedFilesAndKeepsTheJournalUntilAllMoved) {
  // `held`: held open by another program until the second replay, which must end in `released`.
  static constexpr struct {
    const wchar_t* before; const char* journal; const wchar_t* held;
    bool result; const wchar_t* after; const wchar_t* released;
  } kCases[] = {
      {ST L"a=A|" ST L" #=H|" ST L"b=B|" ST L"c=C|" ST L"sub\\d=D|" ST L"last=L|bin\\sub\\",
       "# comment\r\n\r\na|bin\\a \r\n #|bin\\h\r\nno bar\r\nb|bin/sub/b  \r\n#c|bin\\c\r\n"
       "missing|bin\\m\r\nsub/d|bin\\d\r\nlast|last.txt", nullptr, true,
       ST L"c=C|" ST L"sub\\|bin\\|bin\\a=A|bin\\h=H|bin\\sub\\|bin\\sub\\b=B|bin\\d=D|last.txt=L", nullptr},
      {ST L"a=A|bin\\", "", nullptr, true, ST L"a=A|bin\\", nullptr},
      {ST L"a=A|bin\\", "# only\r\n\r\n  \n#a|bin\\a\n", nullptr, true, ST L"a=A|bin\\", nullptr},
      {ST L"a=A|" ST L"b=B|bin\\", "a|bin\\a|x\nb|bin\\b\n", nullptr, false, ST L"a=A|bin\\|bin\\b=B", nullptr},
      {ST L"a=A|" ST L"b=B|bin\\", "a|missing\\a\nb|bin\\b\n", nullptr, false, ST L"a=A|bin\\|bin\\b=B", nullptr},
      // Never moved, and not failures either.
      {ST L"a=A|" ST L"b=B|content\\cache\\x=X|bin\\",
       "a|..\\esc\na|bin\\..\\..\\esc\na|.. \\esc\na|bin/../../esc\na|C:\\esc\na|C:esc\na|\\esc\na|/esc\n"
       "a|\\\\server\\share\\esc\na|bin\\esc:stream\na|\n|bin\\x\n..\\x|bin\\x\n.\\..\\x|bin\\x\n"
       "a|NUL\na|bin\\con.txt\nb|bin\\b\n", nullptr, true, ST L"a=A|content\\cache\\x=X|bin\\|bin\\b=B", nullptr},
      {ST L"a=A|" ST L"b=B|" ST L"c=C|bin\\a=old|bin\\b=old|bin\\c=old", "a|bin\\a\nb|bin\\b\nc|bin\\c\n",
       L"bin\\b", false, ST L"b=B|bin\\|bin\\a=A|bin\\b=old|bin\\c=C", L"bin\\|bin\\a=A|bin\\b=B|bin\\c=C"},
      {ST L"a=A|bin\\", "a|bin\\a\n", L"content\\cache\\update-journal.txt", true, ST L"a=A|bin\\",
       L"bin\\|bin\\a=A"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "row " << &c - kCases);
    std::wstring root = Root(), journal = root + L"\\content\\cache\\update-journal.txt", aside = root + L".j";
    Lay(root, c.before);
    e2e::WriteBytes(journal, c.journal);
    UniqueFile other = c.held ? Hold(root + L"\\" + c.held) : UniqueFile();
    EXPECT_EQ(ReplayUpdateJournal(root), c.result);
    bool kept = c.held || !c.result;
    ASSERT_EQ(e2e::IsFile(journal), kept);
    EXPECT_EQ(e2e::ReadBytes(journal), kept ? c.journal : "");
    other.reset();
    // The tree is compared without the journal, which the second replay gets back.
    MoveFileW(journal.c_str(), aside.c_str());
    EXPECT_EQ(Tree(root), Sorted(std::wstring(c.after) + L"|content\\|content\\cache\\|" ST));
    if (!c.released) continue;
    MoveFileW(aside.c_str(), journal.c_str());
    EXPECT_TRUE(ReplayUpdateJournal(root)) << "after release";
    EXPECT_EQ(Tree(root), Sorted(std::wstring(c.released) + L"|content\\|content\\cache\\|" ST)) << "after release";
  }
}

enum Kind { kAbsent, kFolder, kRunning, kNewer, kNewest, kGarbage, kCutShort, kPe32 };
constexpr const char* kKindNames[] = {"absent", "folder", "running", "newer", "newest", "garbage", "cut short", "PE32"};

// Candidates are made from this test's own file, a real 64-bit program.
std::string BytesOf(Kind kind) {
  static const std::string running = [] {
    wchar_t path[MAX_PATH];
    return e2e::ReadBytes(std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH)));
  }();
  std::size_t pe = static_cast<unsigned char>(running[0x3C]) | static_cast<unsigned char>(running[0x3D]) << 8;
  std::string bytes = running;
  switch (kind) {
    case kNewer: return bytes + '\1';
    case kNewest: return bytes + "\2\2";
    case kGarbage: return "not a program, though long enough to hold every header that one would have";
    case kCutShort: return bytes.substr(0, pe + 25);  // ends inside the optional header's magic
    case kPe32: return bytes.replace(pe + 24, 2, "\x0B\x01", 2);
    default: return bytes;
  }
}

void Place(const std::wstring& path, Kind kind) {
  if (kind == kFolder) e2e::WriteBytes(path + L"\\inside", "x");
  else if (kind != kAbsent) e2e::WriteBytes(path, BytesOf(kind));
}

std::string KindAt(const std::wstring& path) {
  if (e2e::IsDir(path)) return "folder";
  if (!e2e::IsFile(path)) return "absent";
  std::string bytes = e2e::ReadBytes(path);
  for (Kind kind : {kRunning, kNewer, kNewest, kGarbage, kCutShort, kPe32})
    if (bytes == BytesOf(kind)) return kKindNames[kind];
  return "other bytes";
}

TEST_F(Update, ReplaceStubFileTakesAValidDifferentCandidate) {
  static constexpr struct {
    const char* what; Kind atInstance, atInstall, oldBefore, newBefore; bool ownHeld, result; Kind own, old, fresh;
  } kCases[] = {
      {"no candidate", kAbsent, kAbsent, kGarbage, kGarbage, false, false, kRunning, kAbsent, kGarbage},
      {"only under the install root", kAbsent, kNewer, kAbsent, kAbsent, false, true, kNewer, kRunning, kAbsent},
      {"instance root first", kNewer, kNewest, kAbsent, kAbsent, false, true, kNewer, kRunning, kAbsent},
      {"folder at the first choice", kFolder, kNewest, kAbsent, kAbsent, false, true, kNewest, kRunning, kAbsent},
      {"equal, fallback not looked at", kRunning, kNewer, kAbsent, kAbsent, false, false, kRunning, kAbsent, kAbsent},
      {"not a program", kGarbage, kAbsent, kAbsent, kAbsent, false, false, kRunning, kAbsent, kAbsent},
      {"not a program, fallback", kGarbage, kNewest, kAbsent, kAbsent, false, true, kNewest, kRunning, kAbsent},
      {"cut short", kCutShort, kAbsent, kAbsent, kAbsent, false, false, kRunning, kAbsent, kAbsent},
      {"32-bit program", kAbsent, kPe32, kAbsent, kAbsent, false, false, kRunning, kAbsent, kAbsent},
      {"own file held for writing", kNewer, kAbsent, kAbsent, kAbsent, true, false, kRunning, kAbsent, kAbsent},
      {"old copy cannot give way", kNewer, kAbsent, kFolder, kAbsent, false, false, kRunning, kFolder, kAbsent},
      {"leftover new copy", kNewer, kAbsent, kAbsent, kGarbage, false, true, kNewer, kRunning, kAbsent},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::wstring root = Root(), own = root + L"\\Quillmere.exe";
    Place(own, kRunning);
    Place(root + L"\\live\\content\\bin\\stub\\Quillmere.exe", c.atInstance);
    Place(root + L"\\content\\bin\\stub\\Quillmere.exe", c.atInstall);
    Place(own + L".old", c.oldBefore);
    Place(own + L".new", c.newBefore);
    UniqueFile writer = c.ownHeld ? Hold(own) : UniqueFile();
    EXPECT_EQ(ReplaceStubFile(own, root, root + L"\\live"), c.result);
    writer.reset();
    EXPECT_EQ(KindAt(own), kKindNames[c.own]);
    EXPECT_EQ(KindAt(own + L".old"), kKindNames[c.old]);
    EXPECT_EQ(KindAt(own + L".new"), kKindNames[c.fresh]);
  }
}

TEST_F(Update, SwapPutsTheOwnFileBackWhenTheNewCopyVanished) {
  std::wstring own = Root() + L"\\Quillmere.exe";
  Place(own, kRunning);
  EXPECT_FALSE(SwapInStubCopy(own));
  EXPECT_EQ(KindAt(own), "running");
  EXPECT_EQ(KindAt(own + L".old"), "absent");
  EXPECT_EQ(KindAt(own + L".new"), "absent");
}

}  // namespace
