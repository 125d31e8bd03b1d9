// The names that replacing the stub leaves beside it, decided from names alone.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/path.h"

namespace quillmere {

// Whether `fileName`, found beside the stub named `stubName`, is left over from replacing
// it: "<stub>.old", a stub set aside; "<stub>.<hex number>.old", one set aside where
// "<stub>.old" was refused; "<stub>.new" and "<stub>.<hex number>.new", new stubs that never
// took the name. Letters compare without regard to case, as Windows compares names.
bool IsStubLeftover(std::wstring_view stubName, std::wstring_view fileName);

// The checked copy of a new stub beside `stub`, which runs under this name until it has
// shown that it does.
inline Path NewStubPathOf(const Path& stub) { return stub + L".new"; }

// The name that the checked copy takes where "<stub>.new" is taken: by a new stub of an
// earlier try that still runs, by a program that holds it, by a folder, or by the running
// stub itself. Of the start with process id `processId` alone, in a form that StubPathOf
// knows.
Path SpareNewStubPathOf(const Path& stub, std::uint32_t processId);

}  // namespace quillmere
