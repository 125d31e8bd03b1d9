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

// What a line of the journal is: an entry, or why it is none.
enum class JournalLine {
  kNoEntry,  // empty, a comment, or no "|"
  kNotUtf8,  // a field that is no UTF-8
  kUnsafe,   // a name that could leave its folder or that Windows cannot create
  kEntry,
};

// Reads one trimmed line of the journal into `entry`.
JournalLine ParseJournalLine(std::string_view line, JournalEntry& entry);

// Calls visit(folder) for each folder that `targetPath` names, from the top down, until
// it returns false; false then.
template <typename Visit>
bool ForEachTargetFolder(std::wstring_view targetPath, Visit&& visit) {
  for (std::size_t at = 0; (at = targetPath.find(L'\\', at)) != std::wstring_view::npos; ++at) {
    if (!visit(targetPath.substr(0, at))) return false;
  }
  return true;
}

// The entries of `bytes` in file order. A line whose fields are not valid UTF-8,
// could take a file from outside the staging directory or put one outside the
// instance root, or name a file that Windows can never create, is ignored like a
// line without "|": its move could never succeed, or must not.
std::vector<JournalEntry> ParseUpdateJournal(std::string_view bytes);

// True for a relative path of names that Windows can create, below the folder it is
// joined to: not empty, not rooted; none of < > : " | ? * and no control character
// (so no drive, UNC or device prefix); no component longer than 255 characters,
// made only of dots and blanks (Windows may read "..", ". ." or ".. " as a step
// out) or naming a device (CON, NUL, COM1, CONOUT$, ...). Both "/" and "\"
// separate components.
bool IsPlainRelativePath(std::wstring_view path);

}  // namespace quillmere
