#include "install/tree_check.h"

#include "base/files.h"

namespace quillmere {

bool IsInstanceTreeComplete(const Path& root) {
  Path bin = JoinPath(root, L"content\\bin");
  if (!IsFile(JoinPath(bin, L"QuillmereLauncher.exe")) &&
      !IsFile(JoinPath(bin, L"QuillmereClient.exe"))) {
    return false;
  }
  return IsFile(JoinPath(bin, L"defaults.bin")) &&
         IsDirectory(JoinPath(root, L"content\\resources\\vfs"));
}

}  // namespace quillmere
