// Where an instance's tree lies in each folder layout.
#pragma once

#include <cstdint>
#include <string_view>

#include "startup/common.h"

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
Path ContentBaseFor(const Path& installRoot, const Path& instanceRoot,
                    std::int32_t layoutVersion);
