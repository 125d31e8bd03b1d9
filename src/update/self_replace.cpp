#include "update/self_replace.h"

#include <windows.h>

#include <cstring>

#include "base/files.h"
#include "base/handle.h"
#include "update/self_replace_rules.h"
#include "update/stub_image.h"

namespace quillmere {
namespace {

constexpr wchar_t kCandidate[] = L"content\\bin\\stub\\Quillmere.exe";

// How long each rename of a swap waits out a program that holds a file, apart from the
// start's own time for waiting, which may be spent already: a scanner looking at a fresh
// stub must not leave the stub's name empty.
constexpr std::uint32_t kSwapPatienceMs = 5000;

// Renames `from` to `to` (over what stands there, with MOVEFILE_REPLACE_EXISTING in `flags`),
// waiting out a program that holds either for a moment. Whether a refusal is a hold is asked
// of `to` alone: `from` may be a running program, whose file always answers as one in use.
bool RenameStub(const Path& from, const Path& to, DWORD flags) {
  std::wstring source = SystemPath(from), target = SystemPath(to);
  auto rename = [&] { return MoveFileExW(source.c_str(), target.c_str(), flags); };
  std::uint32_t patience = kSwapPatienceMs;
  return Persist(to, rename, patience) == FileResult::kDone;
}

// Gives the stub's name to the new stub, which has shown that it runs as <stub>.new: this
// stub steps aside to <stub>.old (or, where a leftover there is refused for good, to a name
// of its own) and the new one takes the name, which is empty then, so that nothing there is
// ever replaced. Both are renames of running programs, which Windows allows. Should the
// second fail, this stub takes the name back; should that fail too, the new stub takes it
// once this one has ended (ClaimStubName).
void SwapInNewStub(const Path& stub, const Path& fresh) {
  Path aside = stub + L".old";
  if (!RenameStub(stub, aside, MOVEFILE_REPLACE_EXISTING)) {
    aside = stub + L"." + HexName(GetCurrentProcessId()) + L".old";
    if (!RenameStub(stub, aside, MOVEFILE_REPLACE_EXISTING)) return;
  }
  if (!RenameStub(fresh, stub, 0)) RenameStub(aside, stub, 0);
}

// Where the checked copy goes: "<stub>.new", cleared of a leftover of an earlier try, read-only
// or not. Where that cannot go at once (a new stub of that try still runs under it, a program
// holds it, a folder stands there) or this stub runs under it, the copy takes a spare name:
// what an earlier try left must neither cost this start its time for waiting nor keep the
// update out for good.
Path NewStubPathFor(const Path& stub, const Path& running) {
  Path fresh = NewStubPathOf(stub);
  if (LowerCaseName(fresh) != LowerCaseName(running)) {
    RemoveFile(fresh);
    if (KindOf(fresh) == PathKind::kNothing) return fresh;
  }
  return SpareNewStubPathOf(stub, GetCurrentProcessId());
}

}  // namespace

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

Path StubCandidatePath(const Path& root) { return JoinPath(root, kCandidate); }

Path FindStubCandidate(const Path& installRoot, const Path& instanceRoot, Candidate& found) {
  Path candidate = StubCandidatePath(instanceRoot);
  found = CheckCandidate(candidate);
  if (found == Candidate::kAbsent) {
    candidate = StubCandidatePath(installRoot);
    found = CheckCandidate(candidate);
  }
  return candidate;
}

bool IsNewStub(Candidate found, const Path& candidate, const Path& running) {
  return found == Candidate::kStartable && FilesDiffer(candidate, running);
}

// Looked for where a stub was set aside, which every replacement leaves, so that an
// ordinary start pays one query. (A pattern that would find them all finds the stub too.)
void ForEachStubLeftover(const Path& stub, void (*visit)(const Path& leftover)) {
  if (!Exists(stub + L".old")) return;
  Path folder = FolderOf(stub);
  std::wstring_view name = std::wstring_view(stub).substr(folder.size() + 1);
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(SystemPath(stub + L".*").c_str(), &entry));
  for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
    if (IsStubLeftover(name, entry.cFileName)) visit(JoinPath(folder, entry.cFileName));
  }
}

bool FilesDiffer(const Path& a, const Path& b) {
  // Either may be a running stub, which the stub that started it renames meanwhile.
  UniqueFile fileA = OpenForReading(a, kLetRename);
  if (!fileA) return false;
  UniqueFile fileB = OpenForReading(b, kLetRename);
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

bool ReplaceStubIfNewer(const Path& installRoot, const Path& instanceRoot, ProveNewStub prove) {
  Path running = GetExecutablePath();
  if (running.empty()) return false;
  Path stub = StubPathOf(running);
  // One that still runs is left for a later start.
  ForEachStubLeftover(stub, RemoveFile);

  Candidate found;
  Path candidate = FindStubCandidate(installRoot, instanceRoot, found);
  // Compared with the running program: a new stub still running as <stub>.new is the
  // candidate itself, and once renamed it cannot be opened under that name.
  if (!IsNewStub(found, candidate, running)) return false;

  Path fresh = NewStubPathFor(stub, running);
  std::wstring from = SystemPath(candidate), to = SystemPath(fresh);
  if (Persist(fresh, [&] { return CopyFileW(from.c_str(), to.c_str(), FALSE); }) !=
      FileResult::kDone) {
    return false;
  }
  // The copy is what will run: it must be the candidate, whole.
  if (FilesDiffer(fresh, candidate) || CheckCandidate(fresh) != Candidate::kStartable ||
      !prove(fresh, installRoot)) {
    RemoveFileWhenFree(fresh);
    return false;
  }
  SwapInNewStub(stub, fresh);
  return true;
}

void ClaimStubName() {
  Path running = GetExecutablePath();
  Path stub = StubPathOf(running);
  if (running.empty() || stub == running) return;
  // The stub that started this one makes three renames at most, each within its patience,
  // and then ends at once; one patience more is room for a busy machine.
  WaitForStarterToEnd(4 * kSwapPatienceMs);
  if (KindOf(stub) == PathKind::kNothing) RenameStub(running, stub, 0);
}

}  // namespace quillmere
