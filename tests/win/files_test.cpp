// Reading and writing the small files, comparing files, the installation check,
// and quoting checked against the system's own command-line splitter.
#include <cstdlib>
#include <random>

#include "install/layout_file.h"
#include "install/tree_check.h"
#include "settings/launcher_settings.h"
#include "startup/command_line.h"
#include "update/self_replace.h"
#include "win_test.h"

using namespace quillmere;

namespace {

using namespace wintest;
class Files : public Folder {};

TEST_F(Files, ReadersTakeDefaultsUnlessTheyCanRead) {
  enum Other { kNobody, kWriter, kReader, kFolders };
  const std::string spaces40(40, ' '), spaces70(70, ' '), padding(5000, 'x');
  const struct { std::string layout, settings; Other other; std::int32_t version; const wchar_t* instance; } kCases[] = {
      {"2\n", "server=dev\n", kNobody, 2, L"dev"},
      {"2\n", "server=dev\n", kWriter, 1, L"live"},  // another program still writes them
      {"2\n", "server=dev\n", kReader, 2, L"dev"},   // another program only reads them
      {"", "", kFolders, 1, L"live"},
      {spaces40 + "2", "a=" + padding + "\nserver=dev", kNobody, 2, L"dev"},  // past the first 4096-byte block
      {spaces70 + "2", "", kNobody, 1, L"live"},  // only the first 64 bytes are looked at
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "row " << &c - kCases);
    std::wstring root = Root(), layout = root + L"\\settings\\install-layout.txt";
    std::wstring settings = root + L"\\settings\\launcher-settings.txt";
    if (c.other == kFolders) Lay(root, L"settings\\install-layout.txt\\|settings\\launcher-settings.txt\\");
    else e2e::WriteBytes(layout, c.layout), e2e::WriteBytes(settings, c.settings);
    bool held = c.other == kWriter || c.other == kReader;
    DWORD access = c.other == kWriter ? GENERIC_WRITE : GENERIC_READ;
    UniqueFile h1 = held ? Hold(layout, access) : UniqueFile(), h2 = held ? Hold(settings, access) : UniqueFile();
    EXPECT_EQ(ReadInstallLayoutVersion(root), c.version);
    EXPECT_EQ(ReadInstanceName(root), c.instance);
  }
}

TEST_F(Files, WriteInstallLayoutFileLeavesExactlyTwoBytes) {
  static constexpr struct { const wchar_t* before; bool written; const wchar_t* after; } kCases[] = {
      {L"", true, L"settings\\|settings\\install-layout.txt=2\n"},
      {L"settings\\install-layout.txt=1", true, L"settings\\|settings\\install-layout.txt=2\n"},
      {L"settings\\install-layout.txt=1234567890\r\n", true, L"settings\\|settings\\install-layout.txt=2\n"},
      {L"settings=a file", false, nullptr},  // nullptr: unchanged
      {L"settings\\install-layout.txt\\", false, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Show(c.before));
    std::wstring root = Root();
    Lay(root, c.before);
    std::string before = Tree(root);
    EXPECT_EQ(WriteInstallLayoutFile(root), c.written);
    EXPECT_EQ(Tree(root), c.after ? Sorted(c.after) : before);
  }
}

TEST_F(Files, FilesDifferComparesEveryBlock) {
  enum Held { kNone, kA, kB };
  // `changedAt`: a byte of b, -1 for none; `held`: by another program that writes it.
  static constexpr struct { std::size_t sizeA, sizeB; std::ptrdiff_t changedAt; Held held; bool differ; } kCases[] = {
      {100, 101, -1, kNone, true},         {8192 * 2 + 7, 8192 * 2 + 7, 8192 + 5, kNone, true},
      {8192 * 3, 8192 * 3, 8192 * 3 - 1, kNone, true}, {20000, 20000, 0, kNone, true},
      {20000, 20000, -1, kNone, false},    {0, 0, -1, kNone, false},
      {20000, 20001, -1, kA, false},       {20000, 20001, -1, kB, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.sizeA << " vs " << c.sizeB << " bytes, changed at " << c.changedAt
                                    << ", held " << c.held);
    std::wstring root = Root(), a = root + L"\\a", b = root + L"\\b";
    std::string bytes(std::max(c.sizeA, c.sizeB), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 / 3);
    std::string other = bytes.substr(0, c.sizeB);
    if (c.changedAt >= 0) other[c.changedAt] ^= 1;
    e2e::WriteBytes(a, bytes.substr(0, c.sizeA));
    e2e::WriteBytes(b, other);
    UniqueFile writer = c.held != kNone ? Hold(c.held == kA ? a : b) : UniqueFile();
    EXPECT_EQ(FilesDiffer(a, b), c.differ);
    EXPECT_EQ(FilesDiffer(b, a), c.differ);
  }
  EXPECT_FALSE(FilesDiffer(dir_ + L"\\missing", dir_ + L"\\missing too"));
}

#define BIN L"content\\bin\\"
#define VFS L"content\\resources\\vfs"

TEST_F(Files, InstanceTreeIsCompleteWithAProgramDefaultsAndVfs) {
  static constexpr struct { const wchar_t* tree; bool complete; } kCases[] = {
      {BIN L"QuillmereLauncher.exe|" BIN L"defaults.bin|" VFS L"\\", true},
      {BIN L"QuillmereClient.exe|" BIN L"defaults.bin|" VFS L"\\", true},
      {BIN L"QuillmereLauncher.exe\\|" BIN L"QuillmereClient.exe|" BIN L"defaults.bin|" VFS L"\\", true},
      {BIN L"QuillmereLauncher.exe\\|" BIN L"defaults.bin|" VFS L"\\", false},
      {BIN L"QuillmereLauncher.exe|" BIN L"defaults.bin\\|" VFS L"\\", false},
      {BIN L"QuillmereLauncher.exe|" BIN L"defaults.bin|" VFS, false},
      {BIN L"QuillmereLauncher.exe|" BIN L"defaults.bin|content\\resources\\", false},
      {BIN L"QuillmereLauncher.exe|" VFS L"\\", false},
      {BIN L"defaults.bin|" VFS L"\\", false},
      {VFS L"\\", false},
      {L"", false},
  };
  for (const auto& c : kCases) {
    std::wstring root = Root();
    Lay(root, c.tree);
    EXPECT_EQ(IsInstanceTreeComplete(root), c.complete) << Show(c.tree);
  }
  EXPECT_FALSE(IsInstanceTreeComplete(dir_ + L"\\no such root"));
}

// What the started program will see is what CommandLineToArgvW gives back.
TEST(QuoteArgument, SystemSplitsQuotedArgumentsBackExactly) {
  static constexpr wchar_t kAlphabet[] = L" \t\"\\\n\va\u00e9\u0416\u3000";
  const char* fixed = std::getenv("QUILLMERE_QUOTE_SEED");
  std::uint32_t seed = fixed ? static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
  SCOPED_TRACE(testing::Message() << "seed " << seed << " (set QUILLMERE_QUOTE_SEED to repeat)");
  std::mt19937 random(seed);
  auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::wstring> arguments(below(7));
    std::wstring line = L"prog";
    for (auto& argument : arguments) {
      for (std::size_t n = below(3) ? below(9) : 0; n > 0; --n) argument += kAlphabet[below(std::size(kAlphabet) - 1)];
      line += L" " + QuoteArgument(argument);
    }
    std::vector<std::wstring> split = e2e::SplitCommandLine(line);
    ASSERT_FALSE(split.empty()) << Show(line);
    std::string want, got;
    for (const auto& a : arguments) want += "[" + Show(a) + "]";
    for (auto a = split.begin() + 1; a != split.end(); ++a) got += "[" + Show(*a) + "]";
    ASSERT_EQ(got, want) << "command line: " << Show(line);
  }
}

// Every command line of up to six characters from the ones that matter to the
// splitter: the stub skips splitting only when the system would find no argument.
TEST(HasArgumentsAfterProgramName, AgreesWithTheSystemOnEveryShortLine) {
  static constexpr wchar_t kAlphabet[] = {L' ', L'\t', L'"', L'\\', L'a'};
  std::vector<std::wstring> lines{L""};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    bool expected = e2e::SplitCommandLine(lines[i]).size() > 1;
    ASSERT_EQ(HasArgumentsAfterProgramName(lines[i]), expected) << Show(lines[i]);
    if (lines[i].size() < 6)
      for (wchar_t c : kAlphabet) lines.push_back(lines[i] + c);
  }
}

}  // namespace
