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
  kRefused,  // access denied with no file in use: refused for good, though the player may
             // change that (access rights, Controlled Folder Access)
  kNever,    // a name that the volume can never hold: no try can succeed
};

// The failure that the Windows error code `error` stands for. A file in use is the caller's
// to tell (it passes too). A file where a folder must be shows only as a missing folder, so
// the caller looks for it.
Failure ClassifyFailure(std::uint32_t error);

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

// What a copy in progress begins with, for finding them.
inline constexpr wchar_t kScratchPrefix[] = L".quillmere-copy-";

}  // namespace quillmere
