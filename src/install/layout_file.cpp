#include "install/layout_file.h"

#include <windows.h>

#include "base/files.h"
#include "base/handle.h"
#include "install/layout_format.h"

namespace quillmere {

namespace {
constexpr wchar_t kLayoutFile[] = L"settings\\install-layout.txt";
}  // namespace

std::int32_t ReadInstallLayoutVersion(const Path& installRoot) {
  // Only the beginning matters: no more than the first 64 bytes are looked at.
  return LayoutVersionFromText(ReadFileBytes(JoinPath(installRoot, kLayoutFile), 64, 64).bytes);
}

void WriteInstallLayoutFile(const Path& installRoot) {
  // Usually there already; a real failure shows when the file is created.
  CreateFolder(JoinPath(installRoot, L"settings"));
  UniqueFile file(CreateFileW(SystemPath(JoinPath(installRoot, kLayoutFile)).c_str(), GENERIC_WRITE,
                              0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), kCurrentLayoutFileText.data(),
            static_cast<DWORD>(kCurrentLayoutFileText.size()), &written, nullptr);
}

}  // namespace quillmere
