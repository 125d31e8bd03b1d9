#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/journal_format.h"
#include "base/utf8.h"
#include "base/files.h"

using namespace quillmere;

namespace {

using namespace std::string_literals;

std::string Show(const std::vector<JournalEntry>& entries) {
  std::string shown;
  for (const auto& e : entries) {
    shown += testing::PrintToString(e.stagedName) + "|" + testing::PrintToString(e.targetPath) + "\n";
  }
  return shown;
}

TEST(ParseUpdateJournal, LineRules) {
  static const struct {
    std::string journal;
    std::vector<JournalEntry> entries;
  } kCases[] = {
      {"", {}},
      {"\n\n# comment\n#a|b\n\r\n   \n", {}},
      {"a|b", {{L"a", L"b"}}},
      {"a|b\r\nc|d  \r \nx|y", {{L"a", L"b"}, {L"c", L"d"}, {L"x", L"y"}}},
      {"a|b|c\n", {{L"a", L"b|c"}}},
      {" #a|b\n", {{L" #a", L"b"}}},
      {"a | b\t\n", {{L"a ", L" b\t"}}},
      {"no separator\nx|y\n", {{L"x", L"y"}}},
      {"a|b\rc|d\n", {{L"a", L"b\rc|d"}}},
      {"s/1.bin|content/bin/x.dll\n", {{L"s/1.bin", L"content\\bin\\x.dll"}}},
      {"\xEF\xBB\xBF" "a|b\n", {{L"\uFEFFa", L"b"}}},
      {"caf\xC3\xA9|\xF0\x9F\x8E\xAE.txt\n", {{L"caf\u00e9", L"\xD83C\xDFAE.txt"}}},
      // Fields that are not UTF-8 are skipped like a line without "|".
      {"caf\xE9|b\na|\xC0\xAF\nc|d\n", {{L"c", L"d"}}},
  };
  for (const auto& c : kCases) {
    auto parsed = ParseUpdateJournal(c.journal);
    EXPECT_EQ(Show(parsed), Show(c.entries)) << testing::PrintToString(c.journal);
  }
}

TEST(ParseUpdateJournal, SkipsEntriesThatCouldLeaveTheirFolder) {
  static const char* const kUnsafe[] = {
      "..|content\\x",         "a|..\\x",          "a|content/../../x",  "..\\..\\evil.dll|x",
      "a|.",                   "a|x\\.\\y",        "a|x\\.. \\y",        "a|x/. ./y",
      "a|...",                 "a|\\x",            "a|/x",               "\\\\server\\share\\x|y",
      "a|\\\\?\\C:\\x",        "a|C:\\x",          "a|C:x",              "a|x:stream",
      "|x",                    "a|",               "a|content\\CON",     "a|nul.txt",
      "a|x\\com1.dll",         "LPT9|x",           "a|Aux ",           "a|COM\xC2\xB9.log",
  };
  for (const char* line : kUnsafe) {
    EXPECT_TRUE(ParseUpdateJournal(line).empty()) << line;
    // The unsafe entry takes nothing away from its neighbours.
    EXPECT_EQ(ParseUpdateJournal("a|b\n"s + line + "\nc|d\n").size(), 2u) << line;
  }
  static const char* const kSafe[] = {"a..b|x", "..a|x", "a|.x", "a|x.", "a|x\\\\y",
                                      "a|console.dll", "a|com10", "a|content\\bin\\"};
  for (const char* line : kSafe) EXPECT_EQ(ParseUpdateJournal(line).size(), 1u) << line;
}

TEST(DecodeUtf8, RejectsEveryMalformedForm) {
  static const char* const kMalformed[] = {
      "\x80",         "\xC0\x80",         "\xC1\xBF",         "\xE0\x80\x80",  "\xED\xA0\x80",
      "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",      "\xC3",
      "\xE2\x82",     "\xC3\x28",         "a\xE2\x82\xAC" "b\xE2\x82",
  };
  std::wstring out;
  for (const char* bytes : kMalformed) EXPECT_FALSE(DecodeUtf8(bytes, out)) << testing::PrintToString(std::string(bytes));
  EXPECT_TRUE(DecodeUtf8("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", out));
  EXPECT_EQ(out, L"\x7F\x80\x7FF\x800\xFFFF\xD800\xDC00\xDBFF\xDFFF");
}

}  // namespace
