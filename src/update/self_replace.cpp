#include "update/self_replace.h"

#include <windows.h>

#include <cstring>

#include "base/files.h"
#include "base/handle.h"
#include "update/stub_image.h"

namespace quillmere {
namespace {

constexpr wchar_t kCandidate[] = L"content\\bin\\stub\\Quillmere.exe";

// A scanner that looks at a stub just moved or copied holds it for a moment.
UniqueFile OpenForReading(const Path& path) {
  std::wstring system = SystemPath(path);
  UniqueFile file;
  Persist(path, Path(), [&] {
    file = UniqueFile(CreateFileW(system.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
  });
  return file;
}

enum class Candidate { kAbsent, kBusy, kStartable };

// A file that is no whole program for this machine (a download cut short, a DLL)
// counts as absent, so it never takes the place of a working stub. One that
// another program holds open for writing is busy: it may be a newer stub on its way.
Candidate CheckCandidate(const Path& path) {
  if (!IsFile(path)) return Candidate::kAbsent;
  UniqueFile file = OpenForReading(path);
  LARGE_INTEGER size;
  char head[kStubHeaderBytes];
  DWORD read = 0;
  if (!file || !GetFileSizeEx(file.get(), &size) || !ReadFile(file.get(), head, sizeof head, &read, nullptr)) {
    return Candidate::kBusy;
  }
  bool startable = IsWholeX64GuiProgram(std::string_view(head, read), static_cast<std::uint64_t>(size.QuadPart));
  return startable ? Candidate::kStartable : Candidate::kAbsent;
}

bool Rename(const Path& from, const Path& to) {
  return MovePath(from, to, MOVEFILE_REPLACE_EXISTING) == FileResult::kDone;
}

// The running stub, set aside as <own>.old, back at <own>, over whatever stands
// there. Should the rename fail, a copy keeps the folder from being left without a
// stub that starts.
bool PutBackRunningStub(const Path& own) {
  return Rename(own + L".old", own) || CopyFileW(SystemPath(own + L".old").c_str(), SystemPath(own).c_str(), FALSE);
}

// Puts the checked copy <own>.new in place of <own>, which steps aside to <own>.old:
// a running executable can be renamed but not replaced.
bool SwapInStubCopy(const Path& own) {
  Path fresh = own + L".new";
  if (!Rename(own, own + L".old")) {
    RemoveFile(fresh);
    return false;
  }
  if (Rename(fresh, own)) return true;
  // With no stub back at <own>, the new one is the last whole copy besides the old.
  if (PutBackRunningStub(own)) RemoveFile(fresh);
  return false;
}

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
  Path own = GetExecutablePath();
  if (own.empty()) return false;
  Path fresh = own + L".new";
  // The stub that an earlier replacement set aside; it may still be running.
  RemoveFile(own + L".old");

  Path candidate = JoinPath(instanceRoot, kCandidate);
  Candidate found = CheckCandidate(candidate);
  if (found == Candidate::kAbsent) {
    candidate = JoinPath(installRoot, kCandidate);
    found = CheckCandidate(candidate);
  }
  if (found != Candidate::kStartable || !FilesDiffer(candidate, own)) return false;

  RemoveFile(fresh);
  std::wstring from = SystemPath(candidate), to = SystemPath(fresh);
  if (Persist(candidate, fresh, [&] { return CopyFileW(from.c_str(), to.c_str(), FALSE); }) !=
      FileResult::kDone) {
    return false;
  }
  // The copy is what will run: it must be the candidate, whole.
  if (FilesDiffer(fresh, candidate) || CheckCandidate(fresh) != Candidate::kStartable) {
    RemoveFile(fresh);
    return false;
  }
  return SwapInStubCopy(own);
}

void UndoStubReplacement() { PutBackRunningStub(GetExecutablePath()); }

}  // namespace quillmere
