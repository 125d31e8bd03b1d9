#include "startup/instance_root.h"

Path InstanceRootFor(const Path& installRoot, std::wstring_view instanceName,
                     std::int32_t layoutVersion) {
  if (IsCurrentLayout(layoutVersion)) return JoinPath(installRoot, instanceName);
  if (instanceName == L"dev") return JoinPath(installRoot, L"dev");
  return installRoot;
}

Path ContentBaseFor(const Path& installRoot, const Path& instanceRoot,
                    std::int32_t layoutVersion) {
  return IsCurrentLayout(layoutVersion) ? instanceRoot : installRoot;
}
