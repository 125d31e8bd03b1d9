// The launcher settings file as the stub reads it: only its server line.
#pragma once

#include <string_view>

namespace quillmere {

// "dev" when the first line that begins with "server=" has exactly the value
// "dev"; "live" for anything else, including no server line at all.
std::wstring_view InstanceNameFromSettings(std::string_view bytes);

}  // namespace quillmere
