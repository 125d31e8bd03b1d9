#include "install/install_root.h"

#include "base/files.h"
#include "install/install_root_rules.h"

namespace quillmere {

Path FindInstallRoot() { return InstallRootOf(GetExecutablePath()); }

}  // namespace quillmere
