// The names that replacing the stub leaves beside it, decided from names alone.
#pragma once

#include <string_view>

#include "base/path.h"

namespace quillmere {

// Whether `fileName`, found beside the stub named `stubName`, is left over from replacing
// it: "<stub>.old", a stub set aside; "<stub>.<hex number>.old", one set aside where
// "<stub>.old" was refused; "<stub>.new", a new stub that never took the name. Letters
// compare without regard to case, as Windows compares names.
bool IsStubLeftover(std::wstring_view stubName, std::wstring_view fileName);

// The checked copy of a new stub beside `stub`, which runs under this name until it has
// shown that it does.
inline Path NewStubPathOf(const Path& stub) { return stub + L".new"; }

}  // namespace quillmere
