#include "settings/settings_format.h"

#include "base/text_lines.h"

namespace quillmere {

std::wstring_view InstanceNameFromSettings(std::string_view bytes) {
  constexpr std::string_view kServerKey = "server=";
  bool dev = false;
  ForEachTrimmedLine(bytes, [&](std::string_view line) {
    if (!line.starts_with(kServerKey)) return true;
    dev = line.substr(kServerKey.size()) == "dev";
    return false;  // only the first server line counts
  });
  return dev ? L"dev" : L"live";
}

}  // namespace quillmere
