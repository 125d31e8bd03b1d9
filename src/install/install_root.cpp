#include "install/install_root.h"

#include "base/files.h"
#include "install/install_root_rules.h"
#include "install/layout_file.h"

namespace quillmere {

Path FindInstallRoot() { return InstallRootOf(GetExecutablePath()); }

Path FindEnclosingInstallRoot(const Path& folder) {
  // The running stub's path is asked only where it can matter.
  if (EnclosingInstallRoot(folder).empty()) return Path();
  return FindEnclosingInstallRoot(folder, StubPathOf(GetExecutablePath()));
}

Path FindEnclosingInstallRoot(const Path& folder, const Path& stub) {
  Path above = EnclosingInstallRoot(folder);
  if (above.empty() || !IsCurrentLayout(ReadInstallLayoutVersion(above))) return Path();
  bool stubAtTop = IsFile(JoinPath(above, stub.substr(stub.rfind(L'\\') + 1)));
  if (!stubAtTop || Exists(JoinPath(folder, L"settings\\install-layout.txt"))) return Path();
  return above;
}

}  // namespace quillmere
