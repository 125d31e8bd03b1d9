// Where the install root and each instance's tree lie: rules decided from paths alone.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/path.h"

namespace quillmere {

// Everything before the last backslash of `executablePath`; empty when there is
// none. Forward slashes are not separators here.
Path InstallRootOf(std::wstring_view executablePath);

// The folder above `folder` when `folder` is named like an instance ("live" or
// "dev", in any case), else empty: a stub started there may stand inside an
// instance of the current layout.
Path EnclosingInstallRoot(const Path& folder);

inline constexpr std::int32_t kCurrentLayoutVersion = 2;

inline bool IsCurrentLayout(std::int32_t layoutVersion) {
  return layoutVersion >= kCurrentLayoutVersion;
}

// From the current layout on every instance has its own folder under the install
// root; in the first layout `live` is the install root itself and only `dev` has
// a folder of its own.
Path InstanceRootFor(const Path& installRoot, std::wstring_view instanceName,
                     std::int32_t layoutVersion);

// The folder whose content\bin holds the programs to start: in the first layout
// both instances run the programs of the install root.
Path ContentBaseFor(const Path& installRoot, const Path& instanceRoot, std::int32_t layoutVersion);

}  // namespace quillmere
