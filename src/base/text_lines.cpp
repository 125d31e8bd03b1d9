#include "base/text_lines.h"

namespace quillmere {

std::string_view TrimLineEnd(std::string_view line) {
  std::size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\r' || line[end - 1] == ' ')) --end;
  return line.substr(0, end);
}

}  // namespace quillmere
