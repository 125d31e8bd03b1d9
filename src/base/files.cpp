#include "base/files.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "base/file_rules.h"
#include "base/handle.h"

namespace quillmere {
namespace {

// CreateDirectoryW keeps room for an 8.3 name below MAX_PATH, so it has the
// tightest of the classic limits.
constexpr std::size_t kLongestClassicPath = 247;

// How files that are only read are shared while they are open.
DWORD readSharing = FILE_SHARE_READ;

DWORD AttributesOf(const Path& path) { return GetFileAttributesW(SystemPath(path).c_str()); }

// When `process` was created, in 100 ns units; 0 when the system does not say.
std::uint64_t StartTimeOf(HANDLE process) {
  FILETIME created, unused;
  if (!GetProcessTimes(process, &created, &unused, &unused, &unused)) return 0;
  return std::uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
}

// A file or a folder, held only to ask what it is: no access, any sharing.
UniqueFile OpenToIdentify(const Path& path) {
  return UniqueFile(CreateFileW(SystemPath(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

std::wstring SystemPath(const Path& path) {
  if (path.size() <= kLongestClassicPath) return path;
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  return full.empty() ? path : ExtendedLengthPath(full);
}

PathKind KindOf(const Path& path) {
  DWORD attributes = AttributesOf(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::kFolder : PathKind::kFile;
  }
  DWORD error = GetLastError();
  bool nothing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                 ClassifyFailure(error) == Failure::kNever;
  return nothing ? PathKind::kNothing : PathKind::kUnknown;
}

bool IsFile(const Path& path) { return KindOf(path) == PathKind::kFile; }

bool IsDirectory(const Path& path) { return KindOf(path) == PathKind::kFolder; }

bool Exists(const Path& path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }

void CreateFolder(const Path& path) { CreateDirectoryW(SystemPath(path).c_str(), nullptr); }

void RemoveFile(const Path& path) {
  // Clearing the attributes fails for a file that is not there, which spares the
  // deletion: the usual case costs one call.
  std::wstring system = SystemPath(path);
  if (SetFileAttributesW(system.c_str(), FILE_ATTRIBUTE_NORMAL)) DeleteFileW(system.c_str());
}

bool IsSameFile(const Path& a, const Path& b) {
  FileIdentity identities[2];
  for (int k = 0; k < 2; ++k) {
    UniqueFile file = OpenToIdentify(k == 0 ? a : b);
    if (!file) return false;
    // The 128-bit id, as the 64-bit index need not be unique on ReFS; the index where
    // there is no id, as on FAT, some shares and containers.
    FILE_ID_INFO id;
    BY_HANDLE_FILE_INFORMATION info;
    FileIdentity& identity = identities[k];
    identity.hasId = GetFileInformationByHandleEx(file.get(), FileIdInfo, &id, sizeof id);
    identity.idVolume = id.VolumeSerialNumber;
    std::memcpy(identity.id.data(), &id.FileId, sizeof id.FileId);
    identity.hasIndex = GetFileInformationByHandle(file.get(), &info);
    identity.indexVolume = info.dwVolumeSerialNumber;
    identity.index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  }
  return IsOneFile(identities[0], identities[1]);
}

bool FailedOnFileInUse(const Path& replaced) {
  DWORD error = GetLastError();
  DWORD probe = kNotProbed;
  // Access denied is also what a lasting refusal answers (access rights, Controlled Folder
  // Access, an immutable file), which opening the file for writing and deletion, with all
  // sharing allowed, tells apart. A folder is not opened so, and refuses the probe.
  if (error == ERROR_ACCESS_DENIED && !replaced.empty()) {
    UniqueFile file(CreateFileW(SystemPath(replaced).c_str(), GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    probe = file ? 0 : GetLastError();
  }
  SetLastError(error);
  return IsFileInUse(error, probe);
}

std::uint32_t& StartWaitLeft() {
  static std::uint32_t leftMs = 2000;
  return leftMs;
}

bool PauseBeforeRetry(std::uint32_t& pause, std::uint32_t& leftMs) {
  if (leftMs == 0) return false;
  // 10, 20, 40 ... 320 ms: a scanner's look at a file is mostly over within the
  // first few, and a file held for good costs the start no more than its budget.
  pause = std::min<std::uint32_t>({pause == 0 ? 10 : pause * 2, 320, leftMs});
  Sleep(pause);
  leftMs -= pause;
  return true;
}

FileResult MovePath(const Path& from, const Path& to, std::uint32_t flags) {
  std::wstring source = SystemPath(from), target = SystemPath(to);
  return Persist(to, [&] { return MoveFileExW(source.c_str(), target.c_str(), flags); });
}

void RemoveFileWhenFree(const Path& path) {
  std::wstring system = SystemPath(path);
  if (!SetFileAttributesW(system.c_str(), FILE_ATTRIBUTE_NORMAL)) return;
  Persist(path, [&] { return DeleteFileW(system.c_str()); });
}

void ShareAllWhenReading() { readSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE; }

UniqueFile OpenForReading(const Path& path, std::uint32_t moreSharing) {
  std::wstring system = SystemPath(path);
  DWORD sharing = readSharing | moreSharing;
  UniqueFile file;
  Persist(Path(), [&] {
    file = UniqueFile(CreateFileW(system.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
  });
  return file;
}

FileBytes ReadFileBytes(const Path& path, std::uint32_t blockSize, std::size_t limit,
                        bool (*enough)(std::string_view bytes, std::size_t lastBlock)) {
  FileBytes result;
  UniqueFile file = OpenForReading(path);
  if (!file) return result;
  for (;;) {
    std::size_t had = result.bytes.size();
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(blockSize, limit - had));
    if (want == 0) return result;
    result.bytes.resize(had + want);
    DWORD read = 0;
    BOOL ok = ReadFile(file.get(), result.bytes.data() + had, want, &read, nullptr);
    result.bytes.resize(had + (ok ? read : 0));
    if (!ok) return result;
    if (read == 0) {
      result.complete = true;
      return result;
    }
    if (enough && enough(result.bytes, had)) return result;
  }
}

Path ScratchPath(const Path& folder) {
  // This start's own: its process number and creation time, which no other start shares.
  // (Set on first use, not by a static's initialiser, whose guard would bring in 40 KB.)
  static std::uint64_t startTime = 0;
  static std::uint32_t count = 0;
  if (startTime == 0) startTime = StartTimeOf(GetCurrentProcess());
  return JoinPath(folder, ScratchName(GetCurrentProcessId(), startTime, count++));
}

FileResult CopyToScratch(const Path& source, const Path& folder, Path& copy, bool beside) {
  Path own = beside ? ScratchPath(folder) : folder;
  copy = ScratchPath(own);
  if (beside && !CreateDirectoryW(SystemPath(own).c_str(), nullptr)) return FileResult::kFailed;
  std::wstring from = SystemPath(source), to = SystemPath(copy);
  FileResult copied = Persist(Path(), [&] { return CopyFileW(from.c_str(), to.c_str(), TRUE); });
  if (copied != FileResult::kDone) {
    // A partial copy would hold room that the game may need.
    DWORD error = GetLastError();
    RemoveFileWhenFree(copy);
    if (beside) RemoveCopyFolder(copy);
    SetLastError(error);
  }
  return copied;
}

void RemoveCopyFolder(const Path& copy) { RemoveDirectoryW(SystemPath(FolderOf(copy)).c_str()); }

bool IsScratchOfEndedStart(std::wstring_view name) {
  std::uint32_t id;
  std::uint64_t startTime;
  if (!ParseScratchName(name, id, startTime)) return false;
  // A copy of a start that still runs may be whole, about to be renamed into place. The
  // creation time tells a start that has ended from one that got its process number.
  // Another player's start cannot be opened at all (access denied), and runs.
  UniqueProcessHandle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id));
  if (!process) return GetLastError() != ERROR_ACCESS_DENIED;
  return WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT ||
         StartTimeOf(process.get()) != startTime;
}

void RemoveScratchLeftovers(const Path& folder) {
  WIN32_FIND_DATAW entry;
  std::wstring pattern = SystemPath(JoinPath(folder, std::wstring(kScratchPrefix) + L"*"));
  UniqueFind find(FindFirstFileW(pattern.c_str(), &entry));
  for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
    DWORD attributes = entry.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        IsScratchOfEndedStart(entry.cFileName)) {
      RemoveTree(JoinPath(folder, entry.cFileName));
    }
  }
}

void RemoveTree(const Path& folder) {
  // Every folder under it, parents before children, so that they go in the reverse order.
  std::vector<Path> folders = {folder};
  for (std::size_t k = 0; k < folders.size(); ++k) {
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(SystemPath(JoinPath(folders[k], L"*")).c_str(), &entry));
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
      if (IsDotOrDotDot(entry.cFileName)) continue;
      Path child = JoinPath(folders[k], entry.cFileName);
      DWORD attributes = entry.dwFileAttributes;
      if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        RemoveFile(child);
      } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Removed as a link, never entered.
        RemoveDirectoryW(SystemPath(child).c_str());
      } else {
        folders.push_back(std::move(child));
      }
    }
  }
  for (auto k = folders.rbegin(); k != folders.rend(); ++k)
    RemoveDirectoryW(SystemPath(*k).c_str());
}

std::uint32_t VolumeOf(const Path& path) {
  UniqueFile file = OpenToIdentify(path);
  BY_HANDLE_FILE_INFORMATION info;
  return file && GetFileInformationByHandle(file.get(), &info) ? info.dwVolumeSerialNumber : 0;
}

Path GetExecutablePath() {
  Path buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return Path();
    if (length == size && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      // The path was cut: try again with twice the room.
      buffer.assign(buffer.size() * 2, L'\0');
      continue;
    }
    buffer.resize(length);
    // A stub started by its extended path learns it in that form; the folder and every
    // path handed on are the same as for the classic form.
    return ClassicPath(buffer);
  }
}

void WaitForStarterToEnd(std::uint32_t limitMs) {
  // The number of the process that started this one is known to the system alone.
  struct {
    LONG exitStatus;
    void* environmentBlock;
    ULONG_PTR affinity;
    LONG priority;
    ULONG_PTR id;
    ULONG_PTR starterId;
  } basic = {};
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  if (query == nullptr || query(GetCurrentProcess(), 0, &basic, sizeof basic, nullptr) != 0) return;
  UniqueProcessHandle starter(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                          static_cast<DWORD>(basic.starterId)));
  // A process created after this one is not its starter, only a later owner of its number.
  if (!starter || StartTimeOf(starter.get()) > StartTimeOf(GetCurrentProcess())) return;
  WaitForSingleObject(starter.get(), limitMs);
}

}  // namespace quillmere
