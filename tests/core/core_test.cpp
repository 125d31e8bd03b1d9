// Prints, for every file in the folder it is given, the file's name and what the
// portable core decides from its bytes (decide.h); tests/core.py writes the files from
// the tables and compares. Given "quoting" (on Windows), it checks quoting against the
// system's own splitter instead.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/path.h"
#include "decide.h"
#include "startup/command_line.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {
using namespace quillmere;

#ifdef _WIN32
std::vector<std::wstring> Split(const std::wstring& line) {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(line.c_str(), &count);
  std::vector<std::wstring> split(words, words + count);
  LocalFree(words);
  return split;
}

// Every argument of up to six characters from a, blank, tab, quote and backslash, twice
// on one line, must come back from the splitter unchanged; and whether a line holds
// arguments after the program name must agree with it.
int CheckQuoting() {
  std::vector<std::wstring> arguments = {L""};
  for (std::size_t i = 0; arguments[i].size() < 6; ++i) {
    for (wchar_t c : std::wstring(L"a \t\"\\")) arguments.push_back(arguments[i] + c);
  }
  int failures = 0;
  for (const std::wstring& argument : arguments) {
    std::wstring quoted = QuoteArgument(argument);
    std::vector<std::wstring> want = {L"p", argument, argument};
    bool splitBack = Split(L"p " + quoted + L" " + quoted) == want;
    bool toldApart = HasArgumentsAfterProgramName(argument) == (Split(argument).size() > 1);
    if (!splitBack || !toldApart) {
      std::printf("FAIL quoting %s\n", Show(argument).c_str());
      ++failures;
    }
  }
  // The root of a drive as a folder to hand over: "Q:" alone names the current folder there.
  bool driveRoot = FolderArgument(L"Q:") == L"Q:\\";
  // A deep folder on a network share: Wine cannot start the stub from one to show it.
  bool deepShare = ExtendedLengthPath(L"\\\\s\\x") == L"\\\\?\\UNC\\s\\x";
  if (!driveRoot || !deepShare) {
    std::printf("FAIL the root of a drive or a deep network share\n");
    ++failures;
  }
  return failures;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string folder = argv[1];
#ifdef _WIN32
  if (folder == "quoting") return CheckQuoting() != 0;
#endif
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream file(entry.path(), std::ios::binary);
    std::string input(std::istreambuf_iterator<char>(file), {});
    std::string name = entry.path().filename().string();
    std::printf("%s %s\n", name.c_str(), Decide(input).c_str());
  }
  return 0;
}
