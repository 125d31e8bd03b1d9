#include "settings/settings_format.h"

#include "base/text_lines.h"

namespace quillmere {
namespace {

constexpr std::string_view kServerKey = "server=";

}  // namespace

std::wstring_view InstanceNameFromSettings(std::string_view bytes) {
  bool dev = false;
  ForEachTrimmedLine(bytes, [&](std::string_view line) {
    if (!line.starts_with(kServerKey)) return true;
    dev = line.substr(kServerKey.size()) == "dev";
    return false;  // only the first server line counts
  });
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
