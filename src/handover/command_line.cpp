#include "handover/command_line.h"

namespace quillmere {

std::wstring QuoteArgument(std::wstring_view argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring_view::npos) {
    return std::wstring(argument);
  }
  std::wstring quoted;
  quoted.reserve(argument.size() + 2);
  quoted.push_back(L'"');
  std::size_t i = 0;
  while (i < argument.size()) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') {
      ++backslashes;
      ++i;
    }
    if (i == argument.size()) {
      // The closing quote follows: double the run so it stays literal.
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    if (argument[i] == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted.push_back(argument[i]);
    ++i;
  }
  quoted.push_back(L'"');
  return quoted;
}

bool HasArgumentsAfterProgramName(std::wstring_view commandLine) {
  std::size_t end =
      commandLine.starts_with(L'"') ? commandLine.find(L'"', 1) : commandLine.find_first_of(L" \t");
  if (end == std::wstring_view::npos) return false;
  if (commandLine[end] == L'"') ++end;
  return commandLine.find_first_not_of(L" \t", end) != std::wstring_view::npos;
}

void AppendQuotedArguments(std::wstring& commandLine, std::span<const wchar_t* const> arguments) {
  for (const wchar_t* argument : arguments) {
    commandLine.push_back(L' ');
    commandLine += QuoteArgument(argument);
  }
}

std::wstring FolderArgument(const Path& folder) {
  return folder.size() == 2 && folder[1] == L':' ? folder + L"\\" : folder;
}

void AppendChildOptions(std::wstring& commandLine, const Path& instanceRoot,
                        const Path& installRoot, const Path& resourcesDir) {
  commandLine += L" --instance-root ";
  commandLine += QuoteArgument(FolderArgument(instanceRoot));
  commandLine += L" --quillmere-settings ";
  commandLine += QuoteArgument(JoinPath(installRoot, L"settings"));
  commandLine += L" --resources ";
  commandLine += QuoteArgument(resourcesDir);
}

}  // namespace quillmere
