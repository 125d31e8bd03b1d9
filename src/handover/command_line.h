// Building command lines that the started program splits back into the same
// arguments (CommandLineToArgvW and the C runtime agree on these rules).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/path.h"

namespace quillmere {

// The argument as it must stand in a command line: unchanged when it is not
// empty and holds no blank, tab or double quote; otherwise enclosed in double
// quotes, with backslashes doubled only before a quote or the closing quote.
std::wstring QuoteArgument(std::wstring_view argument);

// Whether a process command line holds anything after the program name, by the
// splitter's rule for the program name: up to the next double quote when it
// begins with one, else up to the first blank or tab. Saves the splitting (and
// loading the library that splits) on the usual start without arguments.
bool HasArgumentsAfterProgramName(std::wstring_view commandLine);

// Appends one blank and the quoted argument for each of `arguments`.
void AppendQuotedArguments(std::wstring& commandLine, std::span<const wchar_t* const> arguments);

// `folder` as another program must be given it: the root of a drive as "Q:\",
// since "Q:" stands for the current folder on that drive.
std::wstring FolderArgument(const Path& folder);

// Appends the three options the child program always gets, after everything else.
void AppendChildOptions(std::wstring& commandLine, const Path& instanceRoot,
                        const Path& installRoot, const Path& resourcesDir);

}  // namespace quillmere
