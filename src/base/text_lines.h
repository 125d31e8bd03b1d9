// The line rules shared by the text files that the launcher writes for the stub.
#pragma once

#include <string_view>

namespace quillmere {

// Removes every trailing CR and blank, in any mix, so CRLF endings and trailing
// blanks do no harm. Tabs and leading bytes are kept.
std::string_view TrimLineEnd(std::string_view line);

// Calls visit(line) for each line of `bytes`, split at every LF and trimmed with
// TrimLineEnd, in order, until visit returns false. Text after the last LF is a
// line too; an empty one may be visited.
template <typename Visit>
void ForEachTrimmedLine(std::string_view bytes, Visit&& visit) {
  std::size_t position = 0;
  while (position < bytes.size()) {
    std::size_t end = bytes.find('\n', position);
    if (end == std::string_view::npos) end = bytes.size();
    if (!visit(TrimLineEnd(bytes.substr(position, end - position)))) return;
    position = end + 1;
  }
}

}  // namespace quillmere
