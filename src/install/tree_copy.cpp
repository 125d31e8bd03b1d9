#include "install/tree_copy.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/file_rules.h"
#include "base/files.h"
#include "base/handle.h"

namespace quillmere {
namespace {

// A whole copy that a program (a scanner) held when it was to be renamed into place.
struct HeldCopy {
  Path partial;
  Path target;
  bool beside;  // in a folder of its own beside the target
};

// Whether the copy of a file that failed with `error` is settled: a later start can do no
// better.
bool Settled(DWORD error) { return ClassifyFailure(error) != Failure::kPasses; }

// After a whole copy failed to take its name with `error`: the copy goes, and the file is
// settled when another stub's copy took the name meanwhile or a later start can do no
// better.
bool SettleFailedRename(const HeldCopy& copy, DWORD error) {
  RemoveFile(copy.partial);
  if (copy.beside) RemoveCopyFolder(copy.partial);
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || Settled(error);
}

// Renames a whole copy into place, never over a file. Settled unless it is still held.
bool PutCopyInPlace(const HeldCopy& copy) {
  FileResult moved = MovePath(copy.partial, copy.target, 0);
  if (moved == FileResult::kInUse) return false;
  if (moved != FileResult::kDone) return SettleFailedRename(copy, GetLastError());
  if (copy.beside) RemoveCopyFolder(copy.partial);
  return true;
}

// Settled when `target` now stands (or was there already), when it can never be copied,
// or when its whole copy waits in `held` for a program to let go of it. The copy is made in
// `scratch`, a folder of ours on the target's volume, or, without one, beside the target,
// and renamed into place whole.
bool CopyFileWithoutReplacing(const Path& source, const Path& target, const Path& scratch,
                              std::vector<HeldCopy>& held) {
  // A file there is the player's and stays; a folder there takes the name for good. A name
  // that cannot even be looked at (one still pending deletion) is left for a later start.
  PathKind there = KindOf(target);
  if (there != PathKind::kNothing) return there != PathKind::kUnknown;
  HeldCopy copy = {Path(), target, scratch.empty()};
  FileResult copied =
      CopyToScratch(source, copy.beside ? FolderOf(target) : scratch, copy.partial, copy.beside);
  if (copied != FileResult::kDone) return copied == FileResult::kFailed && Settled(GetLastError());
  if (MoveFileExW(SystemPath(copy.partial).c_str(), SystemPath(target).c_str(), 0)) {
    if (copy.beside) RemoveCopyFolder(copy.partial);
    return true;
  }
  DWORD error = GetLastError();
  // A scanner looking at the fresh copy: the others go on meanwhile.
  if (FailedOnFileInUse()) {
    held.push_back(std::move(copy));
    return true;
  }
  // Two shares of one server may show one volume serial: the copy is made beside the target.
  if (error == ERROR_NOT_SAME_DEVICE && !copy.beside) {
    RemoveFile(copy.partial);
    RemoveScratchLeftovers(FolderOf(target));
    return CopyFileWithoutReplacing(source, target, Path(), held);
  }
  return SettleFailedRename(copy, error);
}

// A folder to walk into. A junction, directory link or mount point could lead back into the
// tree or out of it; a cloud-backed folder (OneDrive) is a reparse point too, but holds its
// own files. Wine cannot make one of those.
bool IsFolderToWalk(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsReparseTagNameSurrogate(reparseTag));
}

// Whether both files could be read to their ends and hold the same bytes.
bool HoldSameBytes(const Path& a, const Path& b) {
  UniqueFile fileA = OpenForReading(a);
  UniqueFile fileB = OpenForReading(b);
  LARGE_INTEGER sizeA, sizeB;
  if (!fileA || !fileB || !GetFileSizeEx(fileA.get(), &sizeA) ||
      !GetFileSizeEx(fileB.get(), &sizeB) || sizeA.QuadPart != sizeB.QuadPart) {
    return false;
  }
  constexpr DWORD kBlock = 1 << 16;
  std::string blocks(2 * kBlock, '\0');
  for (;;) {
    DWORD readA = 0, readB = 0;
    if (!ReadFile(fileA.get(), blocks.data(), kBlock, &readA, nullptr) ||
        !ReadFile(fileB.get(), blocks.data() + kBlock, kBlock, &readB, nullptr) || readA != readB ||
        blocks.compare(0, readA, blocks, kBlock, readA) != 0) {
      return false;
    }
    if (readA == 0) return true;
  }
}

// Copies a file straight to its name in a folder of this start's own, which takes its place
// in the instance only once every file in it is whole. True when the file stands whole
// there or can never be copied.
bool CopyIntoBuild(const Path& source, const Path& copy) {
  std::wstring from = SystemPath(source), to = SystemPath(copy);
  FileResult copied = Persist(Path(), [&] { return CopyFileW(from.c_str(), to.c_str(), TRUE); });
  if (copied == FileResult::kDone) return true;
  DWORD error = GetLastError();
  // A copy that a cut-off start left and that proved whole.
  if (copied == FileResult::kFailed &&
      (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS))
    return true;
  // A cut copy that stays would be taken into the instance with its folder.
  RemoveFileWhenFree(copy);
  return copied == FileResult::kFailed && Settled(error) && !Exists(copy);
}

// In a folder that a cut-off start left, keeps only the copies proven whole, and the
// folders that the source still has. CopyFileW may give a copy its full size before it
// writes it, and a kill leaves its time stamps as they were at that moment, so neither
// size nor time proves anything; a copy whose every byte equals its source's is that file
// however the copy was cut. Read only after a kill, so an ordinary fill pays nothing.
void KeepWholeCopies(const Path& source, const Path& build) {
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(SystemPath(JoinPath(build, L"*")).c_str(), &entry));
  for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
    if (IsDotOrDotDot(entry.cFileName)) continue;
    Path from = JoinPath(source, entry.cFileName), copy = JoinPath(build, entry.cFileName);
    // What an earlier build copied of the source's own copies in progress is no file of the
    // game's either.
    bool scratch = IsScratchName(entry.cFileName);
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      if (scratch || !HoldSameBytes(copy, from)) RemoveFile(copy);
      continue;
    }
    WIN32_FILE_ATTRIBUTE_DATA there;
    bool folder = GetFileAttributesExW(SystemPath(from).c_str(), GetFileExInfoStandard, &there) &&
                  (there.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                  !(there.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (scratch || !folder) RemoveTree(copy);
  }
}

// Copies `source` with everything under it into `build`, a folder of this start's own,
// keeping what an ended start left there whole. True when every file stands whole in it
// or can never be copied.
bool BuildCopy(const Path& source, const Path& build) {
  bool whole = true;
  std::vector<std::pair<Path, Path>> pending = {{source, build}};
  while (!pending.empty()) {
    auto [from, to] = std::move(pending.back());
    pending.pop_back();
    // A folder made now is empty; one that was there comes from a start cut off.
    if (!CreateDirectoryW(SystemPath(to).c_str(), nullptr)) {
      DWORD error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS || !IsDirectory(to)) {
        whole = Settled(error) && whole;
        continue;
      }
      KeepWholeCopies(from, to);
    }
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(SystemPath(JoinPath(from, L"*")).c_str(), &entry));
    if (!find) whole = false;
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
      if (IsDotOrDotDot(entry.cFileName) || IsScratchName(entry.cFileName)) continue;
      Path fromChild = JoinPath(from, entry.cFileName), toChild = JoinPath(to, entry.cFileName);
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        whole = CopyIntoBuild(fromChild, toChild) && whole;
      } else if (IsFolderToWalk(entry.dwFileAttributes, entry.dwReserved0)) {
        pending.emplace_back(std::move(fromChild), std::move(toChild));
      }
    }
    // A folder not seen to its end may hold one left from a cut-off start, unproven.
    if (GetLastError() != ERROR_NO_MORE_FILES) whole = false;
  }
  return whole;
}

// After another stub put the folder in place first: what it lacks is moved over, a whole
// file in one rename each, never over anything; what it has stays, and our copy goes.
// Settled unless a file could be moved by a later start.
bool MergeInto(const Path& build, const Path& target) {
  bool settled = true;
  std::vector<std::pair<Path, Path>> pending = {{build, target}};
  while (!pending.empty()) {
    auto [from, to] = std::move(pending.back());
    pending.pop_back();
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(SystemPath(JoinPath(from, L"*")).c_str(), &entry));
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
      if (IsDotOrDotDot(entry.cFileName)) continue;
      Path fromChild = JoinPath(from, entry.cFileName), toChild = JoinPath(to, entry.cFileName);
      FileResult moved = MovePath(fromChild, toChild, 0);
      if (moved == FileResult::kDone) continue;
      DWORD error = GetLastError();
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsDirectory(toChild)) {
        pending.emplace_back(std::move(fromChild), std::move(toChild));
      } else {
        settled = moved == FileResult::kFailed && (Exists(toChild) || Settled(error)) && settled;
      }
    }
  }
  RemoveTree(build);
  return settled;
}

// What became of a folder built whole.
enum class Placed {
  kSettled,        // in place, or never can be
  kWaits,          // left in the scratch folder for a later start
  kAnotherVolume,  // its place lies on another volume after all
};

// Puts a folder built whole in place in one rename, never over anything, so that the
// instance never shows it in part.
Placed PutFolderInPlace(const Path& build, const Path& target) {
  std::wstring from = SystemPath(build), to = SystemPath(target);
  for (std::uint32_t pause = 0;;) {
    if (MoveFileExW(from.c_str(), to.c_str(), 0)) return Placed::kSettled;
    DWORD error = GetLastError();
    if (Exists(target)) break;
    if (error == ERROR_NOT_SAME_DEVICE) return Placed::kAnotherVolume;
    // Windows refuses to rename a folder while a program, such as a scanner looking at a
    // fresh copy, holds a file in it without delete sharing: access denied, which nothing
    // tells apart from a refusal that lasts. Wine renames it all the same.
    bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held || !PauseBeforeRetry(pause)) return Placed::kWaits;
  }
  if (IsDirectory(target)) return MergeInto(build, target) ? Placed::kSettled : Placed::kWaits;
  // A file holds the folder's name for good.
  RemoveTree(build);
  return Placed::kSettled;
}

// A folder of the source, where it goes, and where it is built whole when it is missing
// there (empty: it is filled file by file).
struct Folder {
  Path from, to, build;
};

}  // namespace

bool CopyTree(const Path& source, const Path& target, const Path& scratch, const Path& build) {
  if (!IsDirectory(source)) return true;
  std::uint32_t scratchVolume = scratch.empty() ? 0 : VolumeOf(scratch);
  bool settled = true;
  std::vector<HeldCopy> held;
  // Folders still to copy, taken last first: depth first, without a call per level,
  // so that no depth of tree can exhaust the stack. A folder is built where its parent
  // lies on the scratch folder's volume, so that one rename puts it in place.
  bool buildable =
      !build.empty() && scratchVolume != 0 && VolumeOf(FolderOf(target)) == scratchVolume;
  std::vector<Folder> pending = {{source, target, buildable ? build : Path()}};
  while (!pending.empty()) {
    Folder folder = std::move(pending.back());
    pending.pop_back();
    const Path& from = folder.from;
    const Path& to = folder.to;
    bool elsewhere = false;
    if (!folder.build.empty() && !Exists(to)) {
      // The folders above it in this start's own, which mirrors the target.
      for (std::size_t at = scratch.size() + 1; (at = folder.build.find(L'\\', at)) != Path::npos;
           ++at) {
        CreateFolder(folder.build.substr(0, at));
      }
      Placed placed =
          BuildCopy(from, folder.build) ? PutFolderInPlace(folder.build, to) : Placed::kWaits;
      if (placed != Placed::kAnotherVolume) {
        settled = placed == Placed::kSettled && settled;
        continue;
      }
      // Volumes that share a serial number: the folder is filled file by file.
      RemoveTree(folder.build);
      elsewhere = true;
    }
    CreateFolder(to);
    // A file that holds the folder's name does so for good: nothing of it can be
    // copied. A folder that could not be made may be by a later start.
    if (!IsDirectory(to)) {
      settled = Exists(to) && settled;
      continue;
    }
    // Where the folder lies on another volume (a folder linked to another drive), its
    // copies are made beside their targets, and what cut-off starts left there goes.
    bool sameVolume = scratchVolume != 0 && VolumeOf(to) == scratchVolume && !elsewhere;
    if (!sameVolume) RemoveScratchLeftovers(to);
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(SystemPath(JoinPath(from, L"*")).c_str(), &entry));
    if (!find) settled = false;
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
      // A copy in progress in the source, which a cut-off move may have left, is no file of
      // the game's.
      if (IsDotOrDotDot(entry.cFileName) || IsScratchName(entry.cFileName)) continue;
      Path fromChild = JoinPath(from, entry.cFileName), toChild = JoinPath(to, entry.cFileName);
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        settled =
            CopyFileWithoutReplacing(fromChild, toChild, sameVolume ? scratch : Path(), held) &&
            settled;
      } else if (IsFolderToWalk(entry.dwFileAttributes, entry.dwReserved0)) {
        Path buildChild =
            sameVolume && !folder.build.empty() ? JoinPath(folder.build, entry.cFileName) : Path();
        pending.push_back({std::move(fromChild), std::move(toChild), std::move(buildChild)});
      }
    }
  }
  for (const HeldCopy& copy : held) settled = PutCopyInPlace(copy) && settled;
  return settled;
}

Path TakeOverScratchTrees(const Path& scratch) {
  Path own = ScratchPath(scratch);
  bool adopted = false;
  WIN32_FIND_DATAW entry;
  std::wstring pattern = SystemPath(JoinPath(scratch, std::wstring(kScratchPrefix) + L"*"));
  UniqueFind find(FindFirstFileW(pattern.c_str(), &entry));
  for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
    DWORD attributes = entry.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !IsScratchOfEndedStart(entry.cFileName)) {
      continue;
    }
    // Only one rename of a name can win: no two starts take over one tree, and none writes
    // into a tree of another that still runs. The first keeps its whole copies for this
    // start; the others, made by stubs cut off together, go.
    std::wstring left = SystemPath(JoinPath(scratch, entry.cFileName));
    Path taken = adopted ? ScratchPath(scratch) : own;
    if (!MoveFileExW(left.c_str(), SystemPath(taken).c_str(), 0)) continue;
    if (adopted) RemoveTree(taken);
    adopted = true;
  }
  return own;
}

}  // namespace quillmere
