// Text that the launcher writes as UTF-8, turned into the stub's wide strings.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// Strict UTF-8 to UTF-16: false for overlong forms, surrogates, code points past
// U+10FFFF and cut sequences.
bool DecodeUtf8(std::string_view bytes, std::wstring& out);

}  // namespace quillmere
