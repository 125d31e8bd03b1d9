#include "update/self_replace.h"

#include <windows.h>

#include <cstring>

#include "base/files.h"
#include "base/handle.h"
#include "base/system_path.h"
#include "update/stub_image.h"

namespace quillmere {

namespace {

constexpr wchar_t kCandidate[] = L"content\\bin\\stub\\Quillmere.exe";

UniqueFile OpenForReading(const Path& path) {
  return UniqueFile(CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A candidate that is not even a 64-bit Windows program (a cut-off or damaged
// download) counts as absent, so it can never take the place of a working stub.
bool IsCandidateStub(const Path& path) {
  if (!IsFile(path)) return false;
  UniqueFile file = OpenForReading(path);
  if (!file) return false;
  char header[kStubHeaderBytes];
  DWORD read = 0;
  if (!ReadFile(file.get(), header, sizeof header, &read, nullptr)) return false;
  return LooksLikeWindowsX64Program(std::string_view(header, read));
}

bool Rename(const Path& from, const Path& to) {
  return MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

void Delete(const Path& path) { DeleteFileW(SystemPath(path).c_str()); }

}  // namespace

bool FilesDiffer(const Path& a, const Path& b) {
  UniqueFile fileA = OpenForReading(a);
  if (!fileA) return false;
  UniqueFile fileB = OpenForReading(b);
  if (!fileB) return false;

  LARGE_INTEGER sizeA, sizeB;
  if (!GetFileSizeEx(fileA.get(), &sizeA) || !GetFileSizeEx(fileB.get(), &sizeB) ||
      sizeA.QuadPart != sizeB.QuadPart) {
    return true;
  }
  // Two fixed blocks for the whole comparison, on the stack: as statics they
  // would be 16 KB of zeros in the exe.
  char blockA[8192];
  char blockB[8192];
  for (;;) {
    DWORD readA = 0, readB = 0;
    if (!ReadFile(fileA.get(), blockA, sizeof blockA, &readA, nullptr) ||
        !ReadFile(fileB.get(), blockB, sizeof blockB, &readB, nullptr) || readA != readB ||
        std::memcmp(blockA, blockB, readA) != 0) {
      return true;
    }
    if (readA == 0) return false;
  }
}

bool ReplaceStubIfNewer(const Path& installRoot, const Path& instanceRoot) {
  return ReplaceStubFile(GetExecutablePath(), installRoot, instanceRoot);
}

bool ReplaceStubFile(const Path& own, const Path& installRoot, const Path& instanceRoot) {
  if (own.empty()) return false;
  Path old = own + L".old";
  Path fresh = own + L".new";
  // The stub that an earlier replacement set aside; it may still be running.
  Delete(old);

  Path candidate = JoinPath(instanceRoot, kCandidate);
  if (!IsCandidateStub(candidate)) {
    candidate = JoinPath(installRoot, kCandidate);
    if (!IsCandidateStub(candidate)) return false;
  }
  if (!FilesDiffer(candidate, own)) return false;

  Delete(fresh);
  if (!CopyFileW(SystemPath(candidate).c_str(), SystemPath(fresh).c_str(), FALSE)) return false;
  if (FilesDiffer(fresh, candidate)) {
    Delete(fresh);
    return false;
  }
  return SwapInStubCopy(own);
}

bool SwapInStubCopy(const Path& own) {
  Path old = own + L".old";
  Path fresh = own + L".new";
  // A running executable can be renamed but not replaced, so it steps aside first.
  if (!Rename(own, old)) {
    Delete(fresh);
    return false;
  }
  if (Rename(fresh, own)) return true;
  Rename(old, own);
  Delete(fresh);
  return false;
}

}  // namespace quillmere
