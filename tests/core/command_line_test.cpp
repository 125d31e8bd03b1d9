#include <gtest/gtest.h>

#include <vector>

#include "startup/command_line.h"
#include "startup/messages.h"

using namespace quillmere;

namespace {

TEST(QuoteArgument, QuotesOnlyWhatTheSplitterWouldBreak) {
  static constexpr struct {
    const wchar_t* argument;
    const wchar_t* quoted;
  } kCases[] = {
      {L"abc", L"abc"},
      {L"C:\\dir\\", L"C:\\dir\\"},
      {L"", L"\"\""},
      {L"a b", L"\"a b\""},
      {L"a\tb", L"\"a\tb\""},
      {L"C:\\My Games\\", L"\"C:\\My Games\\\\\""},
      {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
      {L"a\\\"b", L"\"a\\\\\\\"b\""},
      {L"a\\\\b c", L"\"a\\\\b c\""},
      {L"\"", L"\"\\\"\""},
      {L"\\", L"\\"},
      {L"\\ ", L"\"\\ \""},
      {L" \\\\", L"\" \\\\\\\\\""},
      // Only blank, tab and quote cause quoting: line feeds and vertical tabs stay inside.
      {L"a\nb", L"a\nb"},
      {L"a\vb", L"a\vb"},
      {L"\u00e9t\u00e9", L"\u00e9t\u00e9"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(QuoteArgument(c.argument), c.quoted) << "argument: [" << testing::PrintToString(std::wstring(c.argument)) << "]";
  }
}

TEST(ChildCommandLine, MatchesTheDocumentedExampleToTheCharacter) {
  std::wstring line = QuoteArgument(L"D:\\Games\\My Folder\\live\\content\\bin\\QuillmereLauncher.exe");
  const wchar_t* arguments[] = {L"x y"};
  AppendQuotedArguments(line, arguments);
  AppendChildOptions(line, L"D:\\Games\\My Folder\\live", L"D:\\Games\\My Folder",
                     L"D:\\Games\\My Folder\\live\\content\\resources");
  EXPECT_EQ(line,
            L"\"D:\\Games\\My Folder\\live\\content\\bin\\QuillmereLauncher.exe\" \"x y\" "
            L"--instance-root \"D:\\Games\\My Folder\\live\" --quillmere-settings "
            L"\"D:\\Games\\My Folder\\settings\" --resources "
            L"\"D:\\Games\\My Folder\\live\\content\\resources\"");
}

TEST(ChildCommandLine, PassesArgumentsBeforeTheOptionsAndLeavesPlainPathsUnquoted) {
  std::wstring line = L"C:\\Q\\content\\bin\\QuillmereClient.exe";
  const wchar_t* arguments[] = {L"-x", L"a b", L"", L"--instance-root"};
  AppendQuotedArguments(line, arguments);
  AppendChildOptions(line, L"C:\\Q\\dev", L"C:\\Q", L"C:\\Q\\content\\resources");
  EXPECT_EQ(line,
            L"C:\\Q\\content\\bin\\QuillmereClient.exe -x \"a b\" \"\" --instance-root "
            L"--instance-root C:\\Q\\dev --quillmere-settings C:\\Q\\settings --resources "
            L"C:\\Q\\content\\resources");
}

TEST(Messages, MissingPartNamesThePathUnquoted) {
  EXPECT_EQ(MissingPartMessage(L"C:\\My Q\\content\\bin\\QuillmereClient.exe"),
            L"Quillmere is missing part of its installation.\n\nExpected to find:\n"
            L"C:\\My Q\\content\\bin\\QuillmereClient.exe\n\nExtract the whole Quillmere "
            L"folder from the download, keeping it intact.");
}

}  // namespace
