// Whether a file can be a stub at all, judged from its first bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillmere {

// How many leading bytes LooksLikeWindowsX64Program wants to see.
inline constexpr std::size_t kStubHeaderBytes = 4096;

// True when `header` begins like a 64-bit Windows executable: an "MZ" header
// whose PE header, wherever e_lfanew puts it within `header`, carries the PE32+
// optional-header magic. A damaged or truncated download fails this.
bool LooksLikeWindowsX64Program(std::string_view header);

}  // namespace quillmere
