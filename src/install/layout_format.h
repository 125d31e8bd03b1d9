// The install layout file's text: a number, optionally after white space.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillmere {

// The two bytes that record the current layout.
inline constexpr std::string_view kCurrentLayoutFileText = "2\n";

// The first run of decimal digits, which only blanks, tabs, CRs and LFs may
// precede; digits wrap modulo 2^32 and the bits are returned as a signed number.
// Anything else before the digits, or no digits at all, gives 1 (the first layout).
std::int32_t LayoutVersionFromText(std::string_view bytes);

}  // namespace quillmere
