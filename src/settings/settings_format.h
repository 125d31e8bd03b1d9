// The launcher settings file as the stub reads it: only its server line.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillmere {

// The most of the file that is read: what lies beyond counts as absent, so that a
// huge file costs neither time nor memory.
inline constexpr std::size_t kMostSettingsBytes = 1 << 20;

// The first line that begins with "server=", trimmed; empty when there is none.
std::string_view FindServerLine(std::string_view bytes);

// "dev" when the first line that begins with "server=" has exactly the value
// "dev"; "live" for anything else, including no server line at all.
std::wstring_view InstanceNameFromSettings(std::string_view bytes);

// Whether `bytes` hold a whole server line, given that no line ended before
// `lastBlock` was one: reading may stop there.
bool HoldsWholeServerLine(std::string_view bytes, std::size_t lastBlock);

}  // namespace quillmere
