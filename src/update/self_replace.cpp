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
  if (!file || !GetFileSizeEx(file.get(), &size) ||
      !ReadFile(file.get(), head, sizeof head, &read, nullptr)) {
    return Candidate::kBusy;
  }
  std::string_view headers(head, read);
  // A signature lies at the end of the file, past the head: its first entry decides.
  char entry[kCertificateEntryBytes];
  DWORD entryRead = 0;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(CertificateTableOffset(headers));
  if (at.QuadPart != 0 && (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
                           !ReadFile(file.get(), entry, sizeof entry, &entryRead, nullptr))) {
    entryRead = 0;
  }
  bool startable = IsWholeX64GuiProgram(headers, static_cast<std::uint64_t>(size.QuadPart),
                                        std::string_view(entry, entryRead));
  return startable ? Candidate::kStartable : Candidate::kAbsent;
}

// Waits out a program that holds either file for a moment, as one does right after a
// stub ended or was written.
bool Rename(const Path& from, const Path& to, DWORD flags = MOVEFILE_REPLACE_EXISTING) {
  return MovePath(from, to, flags) == FileResult::kDone;
}

// The running stub, set aside as <own>.old, back at <own>, over whatever stands
// there. Should the rename fail, a copy keeps the folder from being left without a
// stub that starts.
bool PutBackRunningStub(const Path& own) {
  return Rename(own + L".old", own) ||
         CopyFileW(SystemPath(own + L".old").c_str(), SystemPath(own).c_str(), FALSE);
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

void UndoStubReplacement() {
  Path own = GetExecutablePath();
  Path old = own + L".old";
  Path aside = own + L".new";
  // The new stub steps aside first (over a leftover copy): Windows renames a program
  // that has only just run, but refuses to delete it, as renaming the old stub over it
  // would ask. The moves back replace nothing, so that neither stub can be lost.
  if (!Rename(own, aside, MOVEFILE_REPLACE_EXISTING)) return;
  if (!Rename(old, own, 0)) {
    // A stub that may yet start is better than none under the name.
    Rename(aside, own, 0);
    return;
  }
  // As ".old" it is deleted by the next start if it cannot be now.
  if (Rename(aside, old, 0)) aside = old;
  RemoveFile(aside);
}

}  // namespace quillmere
