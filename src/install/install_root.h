// Where the stub runs from.
#pragma once

#include "base/path.h"

namespace quillmere {

// The folder that holds the running executable, or empty when it cannot be found.
Path FindInstallRoot();

// The install root that `folder` is an instance of, when the stub `stub` runs from
// inside one, else empty. A folder named like an instance ("live" or "dev", in any case)
// counts as one only when the folder above is the root of an install of the
// current layout with a stub of the name of `stub` at its top, and `folder`
// records no layout of its own: leftovers of an earlier install above a separate
// install that happens to be named so do not make it an instance.
Path FindEnclosingInstallRoot(const Path& folder, const Path& stub);

// The same for the running stub.
Path FindEnclosingInstallRoot(const Path& folder);

}  // namespace quillmere
