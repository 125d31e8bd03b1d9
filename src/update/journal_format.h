// The update journal: which staged file replaces which file of the instance.
//
// One entry per line, "<staged name>|<target path>", both relative: the staged
// name to the staging directory, the target path to the instance root. Lines
// split at LF, trailing CRs and blanks removed; empty lines, lines that begin
// with "#" and lines without "|" are ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

struct JournalEntry {
  std::wstring stagedName;  // exactly as written
  std::wstring targetPath;  // with every "/" turned into "\"
};

// The entries of `bytes` in file order. A line whose fields are not valid UTF-8,
// or which could take a file from outside the staging directory or put one
// outside the instance root, is ignored like a line without "|".
std::vector<JournalEntry> ParseUpdateJournal(std::string_view bytes);

// True for a relative path that stays below the folder it is joined to: not
// empty, not rooted, no drive, UNC or device prefix, no ":" and no NUL, and no
// component made only of dots and blanks (Windows may read "..", ". ." or ".. "
// as a step out) or naming a device (CON, NUL, COM1, ...). Both "/" and "\"
// separate components.
bool IsContainedRelativePath(std::wstring_view path);

}  // namespace quillmere
