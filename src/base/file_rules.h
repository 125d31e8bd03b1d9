// Decisions about files made from what the system answers, without asking it anything.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillmere {

// What a file operation's failure says of a later try.
enum class Failure {
  kPasses,   // it may succeed later: a disk full now, a share or a cloud file offline
  kRefused,  // it lasts, though the player may mend it: access denied with no file in use
             // (access rights, Controlled Folder Access), a write-protected disk, a file too
             // large for the volume or past a limit of its file system, a link whose driver
             // is gone, a corrupt file or folder, an antivirus block
  kNever,    // a name that the volume can never hold: no try can succeed
};

// The failure that the Windows error code `error` stands for. A file in use is the caller's
// to tell (it passes too). A file where a folder must be shows only as a missing folder, so
// the caller looks for it.
Failure ClassifyFailure(std::uint32_t error);

// What opening a file for writing and deletion, with all sharing, answered: 0 when it opened,
// else its error; kNotProbed where no file was asked about.
inline constexpr std::uint32_t kNotProbed = 0xFFFFFFFF;

// Whether a call that failed with `error` met a file that a program holds, as Windows treats
// it: a sharing or lock violation, a file mapped into a program, or access denied on
// replacing or deleting a file that a program holds (its image, or a file open with every
// sharing allowed), which `probe`, made on that file, tells from a refusal: a file that the
// probe can open, or that it finds held, is in use; one that refuses the probe as well is
// refused.
bool IsFileInUse(std::uint32_t error, std::uint32_t probe);

// What the system answers about one file: its volume and 128-bit id, and its volume serial
// and 64-bit index, each when the question was answered.
struct FileIdentity {
  bool hasId = false;
  std::uint64_t idVolume = 0;
  std::array<std::uint8_t, 16> id = {};
  bool hasIndex = false;
  std::uint32_t indexVolume = 0;
  std::uint64_t index = 0;
};

// Whether both answers name one file: by the 128-bit ids where both are known, else by the
// indexes. An id or index of 0 or of all ones means the file system knows none; files it
// cannot tell apart are never taken for one.
bool IsOneFile(const FileIdentity& a, const FileIdentity& b);

// The name of the `count`th copy in progress of the start of process `processId`, begun at
// `startTime` (its creation time): unique to that start, as process numbers are reused.
std::wstring ScratchName(std::uint32_t processId, std::uint64_t startTime, std::uint32_t count);

// The start that made a copy in progress named `name`: false when the name is no such copy's.
bool ParseScratchName(std::wstring_view name, std::uint32_t& processId, std::uint64_t& startTime);

// Whether `name` is that of a copy in progress, of whichever start: never a file of the
// game's to copy, as a cut-off move may have left it.
bool IsScratchName(std::wstring_view name);

// Whether `name`, found in a folder, is the folder itself or its parent, which every listing
// of a folder holds.
inline bool IsDotOrDotDot(std::wstring_view name) { return name == L"." || name == L".."; }

// What a copy in progress begins with, for finding them.
inline constexpr wchar_t kScratchPrefix[] = L".quillmere-copy-";

}  // namespace quillmere
