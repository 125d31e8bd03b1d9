#include "install/tree_check.h"

#include "base/files.h"

namespace quillmere {

unsigned FindInstanceTreeGaps(const Path& root) {
  Path bin = JoinPath(root, L"content\\bin");
  unsigned gaps = 0;
  if (!IsFile(JoinPath(bin, L"QuillmereLauncher.exe")) &&
      !IsFile(JoinPath(bin, L"QuillmereClient.exe"))) {
    gaps |= kLacksProgram;
  }
  if (!IsFile(JoinPath(bin, L"defaults.bin"))) gaps |= kLacksDefaults;
  if (!IsDirectory(JoinPath(root, L"content\\resources\\vfs"))) gaps |= kLacksResources;
  return gaps;
}

bool IsInstanceTreeComplete(const Path& root) { return FindInstanceTreeGaps(root) == 0; }

}  // namespace quillmere
