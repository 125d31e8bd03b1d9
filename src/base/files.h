// The file-system calls that every part of the stub shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/handle.h"
#include "base/path.h"

namespace quillmere {

// The form of `path` to hand to the system: unchanged while it is short enough for
// every classic call, else normalised as those calls would (a doubled "\" or a
// trailing dot leads to the same file at any depth) and in its extended-length form.
std::wstring SystemPath(const Path& path);

// What stands at a path, from one attribute query, nothing cached. Unknown when the query
// failed for another reason than that nothing stands there: a share or a cloud provider gone
// for a moment, a name still pending deletion, access denied.
enum class PathKind { kNothing, kFile, kFolder, kUnknown };
PathKind KindOf(const Path& path);

// One attribute query each: a path that fails one test is missing, of the other kind, or
// unknown.
bool IsFile(const Path& path);
bool IsDirectory(const Path& path);
bool Exists(const Path& path);

// Creates one folder level. A folder that exists already is fine, and a real
// failure shows in whatever test comes next, so the result is not returned.
void CreateFolder(const Path& path);

// Deletes a file, read-only or not. Whether it is gone shows in the next test.
void RemoveFile(const Path& path);

// Whether both paths lead to one file (one may be the running executable).
bool IsSameFile(const Path& a, const Path& b);

// Whether the call that just failed met a file that a program holds (IsFileInUse).
// `replaced` is the file that the call replaces or deletes, if any: access denied means
// in use there only where that file can be opened for writing and deletion, or is held.
// Any other failure may last. GetLastError() still gives the call's error afterwards.
bool FailedOnFileInUse(const Path& replaced = Path());

// The start's time for waiting out held files, in ms: two seconds for the whole start, so
// that a folder full of held files delays the player by two seconds, not by two per file.
std::uint32_t& StartWaitLeft();

// Pauses before another try, a little longer each time (`pause` holds the last one, 0
// before the first), while `leftMs` lasts, which it takes from: false, at once, when it is
// spent.
bool PauseBeforeRetry(std::uint32_t& pause, std::uint32_t& leftMs = StartWaitLeft());

enum class FileResult {
  kDone,
  kInUse,   // a program still held a file when the start's time for waiting ran out
  kFailed,  // for any other reason; GetLastError() tells which
};

// Calls `attempt` until it succeeds, fails for another reason than a file in use (the file
// it replaces or deletes being `replaced`), or the time for waiting, `leftMs`, is spent.
template <typename Attempt>
FileResult Persist(const Path& replaced, Attempt attempt, std::uint32_t& leftMs = StartWaitLeft()) {
  for (std::uint32_t pause = 0;;) {
    if (attempt()) return FileResult::kDone;
    if (!FailedOnFileInUse(replaced)) return FileResult::kFailed;
    if (!PauseBeforeRetry(pause, leftMs)) return FileResult::kInUse;
  }
}

// MoveFileExW with `flags`, persisting while a file is held.
FileResult MovePath(const Path& from, const Path& to, std::uint32_t flags);

// RemoveFile, persisting while the file is held.
void RemoveFileWhenFree(const Path& path);

// Opens a file for reading with read sharing only (unless ShareAllWhenReading), so that a
// file that another program is still writing is not read; one that a scanner holds for a moment, as
// it does a file just written, is waited for. No handle when it cannot be opened. With
// kLetRename, others may rename or delete the file meanwhile.
inline constexpr std::uint32_t kLetRename = FILE_SHARE_DELETE;
UniqueFile OpenForReading(const Path& path, std::uint32_t moreSharing = 0);

// From now on, files opened for reading let other programs write, rename and delete them
// meanwhile: for a program that only looks at a folder that others use.
void ShareAllWhenReading();

// The bytes read from a file opened for reading with read sharing only.
// A file that cannot be opened (missing, a folder, no access, or held for
// writing) gives no bytes and is not complete.
struct FileBytes {
  bool complete = false;  // true: read to the end without a failed read
  std::string bytes;
};

// Reads the file in blocks of `blockSize` bytes until its end, a failed read,
// `limit` bytes, or `enough` finds what it needs: it is given the bytes read so far
// and where the last block began. The handle is closed on return.
FileBytes ReadFileBytes(const Path& path, std::uint32_t blockSize, std::size_t limit = SIZE_MAX,
                        bool (*enough)(std::string_view bytes, std::size_t lastBlock) = nullptr);

// A new name in `folder` of this start's own: no other start makes it, and no later one
// takes what bears it while this one runs.
Path ScratchPath(const Path& folder);

// Copies `source` into `folder`, on the volume of its target, under a name of this start's
// own, which `copy` receives, waiting out a file held for a moment. The copy is renamed
// into place only once whole, so that no name ever holds part of a file; one that fails is
// removed at once, and the system's error for it is kept. With `beside`, `folder` is the
// target's own, the player's and not ours: the copy is made inside a folder of this start's
// own made there for it (RemoveCopyFolder removes it), so that what a start cut off leaves
// there is a folder of ours, and a player's file of a copy's name is never taken for one.
FileResult CopyToScratch(const Path& source, const Path& folder, Path& copy, bool beside = false);

// Removes the folder that CopyToScratch made for `copy` beside its target, once the copy
// took its place or was removed; one that a held copy keeps is left for a later start.
void RemoveCopyFolder(const Path& copy);

// Whether `name` is a name of the start's own (ScratchPath) of a start that no longer runs.
bool IsScratchOfEndedStart(std::wstring_view name);

// Removes the folders of copies beside their targets that starts which no longer run left
// in `folder`, with what is in them. A file of such a name is the player's, and a link of
// one leads elsewhere: both stay.
void RemoveScratchLeftovers(const Path& folder);

// Removes `folder` with everything under it, entering no link.
void RemoveTree(const Path& folder);

// The serial number of the volume that holds `path`; 0 when it cannot be told.
std::uint32_t VolumeOf(const Path& path);

// The full path of the running executable, or empty when the system cannot give it.
Path GetExecutablePath();

// Waits, for at most `limitMs`, until the process that started this one has ended; one that
// got its number only later is not waited for.
void WaitForStarterToEnd(std::uint32_t limitMs);

}  // namespace quillmere
