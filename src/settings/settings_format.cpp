#include "settings/settings_format.h"

#include "base/text_lines.h"

namespace quillmere {
namespace {

constexpr std::string_view kServerKey = "server=";

}  // namespace

std::string_view FindServerLine(std::string_view bytes) {
  std::string_view found;
  ForEachTrimmedLine(bytes, [&](std::string_view line) {
    if (!line.starts_with(kServerKey)) return true;
    found = line;
    return false;  // only the first server line counts
  });
  return found;
}

std::wstring_view InstanceNameFromSettings(std::string_view bytes) {
  std::string_view line = FindServerLine(bytes);
  bool dev = !line.empty() && line.substr(kServerKey.size()) == "dev";
  return dev ? L"dev" : L"live";
}

bool HoldsWholeServerLine(std::string_view bytes, std::size_t lastBlock) {
  // The line that the last block continues begins after the LF before it.
  std::size_t start = lastBlock == 0 ? 0 : bytes.rfind('\n', lastBlock - 1) + 1;
  for (std::size_t end; (end = bytes.find('\n', lastBlock)) != std::string_view::npos;
       start = lastBlock = end + 1) {
    if (TrimLineEnd(bytes.substr(start, end - start)).starts_with(kServerKey)) return true;
  }
  return false;
}

}  // namespace quillmere
