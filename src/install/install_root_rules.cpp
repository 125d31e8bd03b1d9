#include "install/install_root_rules.h"

namespace quillmere {

Path InstallRootOf(std::wstring_view executablePath) {
  std::size_t last = executablePath.rfind(L'\\');
  if (last == std::wstring_view::npos) return Path();
  return Path(executablePath.substr(0, last));
}

Path EnclosingInstallRoot(const Path& folder) {
  Path above = InstallRootOf(folder);
  std::wstring name = LowerCaseName(folder.substr(above.empty() ? 0 : above.size() + 1));
  return name == L"live" || name == L"dev" ? above : Path();
}

Path InstanceRootFor(const Path& installRoot, std::wstring_view instanceName,
                     std::int32_t layoutVersion) {
  if (IsCurrentLayout(layoutVersion)) return JoinPath(installRoot, instanceName);
  if (instanceName == L"dev") return JoinPath(installRoot, L"dev");
  return installRoot;
}

Path ContentBaseFor(const Path& installRoot, const Path& instanceRoot, std::int32_t layoutVersion) {
  return IsCurrentLayout(layoutVersion) ? instanceRoot : installRoot;
}

}  // namespace quillmere
