#include "install/install_root.h"

#include <windows.h>

#include "install/install_root_rules.h"

Path GetExecutablePath() {
  Path buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return Path();
    if (length == size && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      // The path was cut: try again with twice the room.
      buffer.assign(buffer.size() * 2, L'\0');
      continue;
    }
    buffer.resize(length);
    return buffer;
  }
}

Path FindInstallRoot() { return InstallRootOf(GetExecutablePath()); }
