#include "install/install_root_rules.h"

Path InstallRootOf(std::wstring_view executablePath) {
  std::size_t last = executablePath.rfind(L'\\');
  if (last == std::wstring_view::npos) return Path();
  return Path(executablePath.substr(0, last));
}
