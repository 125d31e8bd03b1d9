#include "check/forecast.h"

#include <windows.h>
#include <restartmanager.h>

#include <map>

#include "base/file_rules.h"
#include "base/files.h"
#include "base/text_lines.h"
#include "base/utf8.h"
#include "handover/child_program.h"
#include "handover/command_line.h"
#include "handover/messages.h"
#include "install/install_root.h"
#include "install/install_root_rules.h"
#include "install/layout_file.h"
#include "install/migration.h"
#include "install/prepare.h"
#include "install/tree_check.h"
#include "settings/launcher_settings.h"
#include "settings/settings_format.h"
#include "update/journal_format.h"
#include "update/journal_replay.h"
#include "update/self_replace.h"
#include "update/self_replace_rules.h"
#include "update/stub_image.h"

namespace quillmere {
namespace {

// The check walks the start as the stub would and gathers what it finds here.
struct Walk {
  Forecast forecast;
  // Targets that the pending update will fill, and the staged files that will fill them.
  std::map<Path, Path> landing;
  // Who holds the files of the entry being looked at.
  std::vector<ReportItem> holders;
  bool stopped = false;
};

void Raise(Walk& walk, int status) {
  if (status > walk.forecast.status) walk.forecast.status = status;
}

void Add(Walk& walk, ReportItem item) { walk.forecast.report.items.push_back(std::move(item)); }

ReportItem Object(std::string key) {
  ReportItem item;
  item.key = std::move(key);
  return item;
}

ReportItem List(std::string key) {
  ReportItem item = Object(std::move(key));
  item.list = true;
  return item;
}

// Whether another program holds the file open: with `sharing` every sharing allowed, only
// one that denies reading shows; with none allowed, any program that holds it open at all.
bool IsHeld(const Path& path, DWORD sharing) {
  UniqueFile file(CreateFileW(SystemPath(path).c_str(), GENERIC_READ, sharing, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file) return false;
  DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The programs that hold `path`, as the Restart Manager tells them: on Windows, the game
// the player must close. Loaded from the system folder only when a file is held. (Wine's
// Restart Manager names no program, so no test here can show it.)
std::wstring HoldersOf(const Path& path) {
  HMODULE library = LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto start = reinterpret_cast<decltype(&RmStartSession)>(
      reinterpret_cast<void*>(GetProcAddress(library, "RmStartSession")));
  auto enlist = reinterpret_cast<decltype(&RmRegisterResources)>(
      reinterpret_cast<void*>(GetProcAddress(library, "RmRegisterResources")));
  auto list = reinterpret_cast<decltype(&RmGetList)>(
      reinterpret_cast<void*>(GetProcAddress(library, "RmGetList")));
  auto end = reinterpret_cast<decltype(&RmEndSession)>(
      reinterpret_cast<void*>(GetProcAddress(library, "RmEndSession")));
  std::wstring holders;
  DWORD session = 0;
  wchar_t key[CCH_RM_SESSION_KEY + 1] = {};
  if (!start || !enlist || !list || !end || start(&session, 0, key) != ERROR_SUCCESS) {
    if (library) FreeLibrary(library);
    return holders;
  }
  std::wstring system = SystemPath(path);
  const wchar_t* files[] = {system.c_str()};
  RM_PROCESS_INFO found[8];
  UINT needed = 0, count = 8;
  DWORD reasons = 0;
  if (enlist(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
      list(session, &needed, &count, found, &reasons) == ERROR_SUCCESS) {
    for (UINT k = 0; k < count; ++k) {
      holders += (holders.empty() ? L"" : L", ") + std::wstring(found[k].strAppName);
    }
  }
  end(session);
  FreeLibrary(library);
  return holders;
}

// A line of a file as a person can read it: UTF-8 where it is, else its bytes as Latin-1.
std::wstring Readable(std::string_view bytes) {
  std::wstring text;
  if (DecodeUtf8(bytes, text)) return text;
  text.clear();
  for (char byte : bytes) text.push_back(static_cast<unsigned char>(byte));
  return text;
}

std::uint64_t SizeOf(const Path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
  return std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

ReportItem Start(std::string key, const Path& program, const std::wstring& commandLine,
                 const Path& folder) {
  ReportItem start = Object(std::move(key));
  start.items.push_back(Value("program", program));
  start.items.push_back(Value("command_line", commandLine));
  start.items.push_back(Value("folder", folder));
  return start;
}

void StopWithMessage(Walk& walk, const std::wstring& text) {
  Add(walk, Value("message", text));
  Raise(walk, kCheckMessage);
  walk.stopped = true;
}

// The fate of one entry, as the replay would decide it.
std::string_view EntryFate(Walk& walk, const Path& updateRoot, const Path& stub,
                           const JournalEntry& entry) {
  Path source = JoinPath(StagingFolderOf(updateRoot), entry.stagedName);
  Path target = JoinPath(updateRoot, entry.targetPath);
  if (!IsFile(source)) return "moved by an earlier start";
  if (IsTargetOutOfReach(target, stub)) return "never lands: onto a folder or the stub itself";
  bool reachable = ForEachTargetFolder(entry.targetPath, [&](std::wstring_view name) {
    return !IsFolderTakenByFile(JoinPath(updateRoot, name));
  });
  if (!reachable) return "never lands: a file stands where its folder must be";
  // A staged file moves unless a program denies sharing it; a target is replaced only where
  // no program holds it open, even one that lets every access in. The check looks at the
  // target without sharing for an instant: a program opening it just then would wait.
  bool sourceHeld = IsHeld(source, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (sourceHeld || (IsFile(target) && IsHeld(target, 0))) {
    std::wstring holders = HoldersOf(sourceHeld ? source : target);
    if (!holders.empty()) walk.holders.push_back(Value("held_by", holders));
    return "waits: a file in use";
  }
  // A move to another volume is a copy, which needs room for the whole file.
  ULARGE_INTEGER room;
  Path folder = FolderOf(target);
  while (!IsDirectory(folder) && folder.size() > updateRoot.size()) folder = FolderOf(folder);
  if (VolumeOf(folder) != VolumeOf(source) &&
      GetDiskFreeSpaceExW(SystemPath(folder).c_str(), &room, nullptr, nullptr) &&
      room.QuadPart < SizeOf(source)) {
    return "kept for a later start: no room for it on the target's volume";
  }
  walk.landing[target] = source;
  return "lands";
}

void ForecastJournal(Walk& walk, const Path& updateRoot, const Path& stub) {
  ReportItem journal = Object("journal");
  Path path = UpdateJournalPath(updateRoot);
  journal.items.push_back(Value("path", path));
  if (!IsFile(path)) {
    journal.value = L"none";
    Add(walk, std::move(journal));
    return;
  }
  FileBytes file = ReadFileBytes(path, 4096);
  if (!file.complete) {
    journal.items.push_back(Text("state", "cannot be read whole: kept for a later start"));
    Add(walk, std::move(journal));
    return;
  }
  ReportItem entries = List("entries");
  bool waits = false, kept = false;
  ForEachTrimmedLine(file.bytes, [&](std::string_view line) {
    JournalEntry entry;
    JournalLine kind = ParseJournalLine(line, entry);
    if (kind == JournalLine::kNoEntry) return true;
    ReportItem item;
    std::string_view fate = "never lands: a name that is no UTF-8";
    if (kind == JournalLine::kUnsafe) {
      fate = "never lands: a name that leaves its folder or that Windows cannot hold";
    } else if (kind == JournalLine::kEntry) {
      fate = EntryFate(walk, updateRoot, stub, entry);
    }
    std::vector<ReportItem> heldBy = std::move(walk.holders);
    walk.holders.clear();
    if (kind == JournalLine::kEntry) {
      item.items.push_back(Value("staged", entry.stagedName));
      item.items.push_back(Value("target", entry.targetPath));
    } else {
      item.items.push_back(Value("line", Readable(line)));
    }
    item.items.push_back(Text("fate", fate));
    for (ReportItem& holder : heldBy) item.items.push_back(std::move(holder));
    if (fate.starts_with("never")) Raise(walk, kCheckNeedsPerson);
    waits = waits || fate.starts_with("waits");
    kept = kept || fate.starts_with("kept");
    entries.items.push_back(std::move(item));
    return true;
  });
  std::string_view state = "done: the journal is removed";
  if (kept) state = "kept for a later start";
  if (waits) state = "kept: a file in use";
  journal.items.push_back(Text("state", state));
  journal.items.push_back(std::move(entries));
  Add(walk, std::move(journal));
  if (waits) StopWithMessage(walk, kMessageUpdateNotFinished);
}

std::string_view Verdict(Candidate found) {
  if (found == Candidate::kBusy) return "held by another program: waits for a later start";
  if (found == Candidate::kStartable) return "a whole 64-bit Windows program";
  return "absent";
}

// What ForEachStubLeftover finds, which calls a plain function.
std::vector<Path> leftovers;
void CollectLeftover(const Path& leftover) { leftovers.push_back(leftover); }

// Gives the relaunch when a new stub takes over.
void ForecastCandidate(Walk& walk, const Path& installRoot, const Path& updateRoot,
                       const Path& stub, const std::wstring& arguments, bool requireSignature) {
  ReportItem item = Object("candidate");
  ForEachStubLeftover(stub, CollectLeftover);
  // A broken one under the instance counts as absent, and the install root's is looked at.
  Path own = StubCandidatePath(updateRoot);
  if (IsFile(own) && CheckCandidate(own) == Candidate::kAbsent) {
    item.items.push_back(Value("broken", own));
    Raise(walk, kCheckNeedsPerson);
  }
  Candidate found;
  Path candidate = FindStubCandidate(installRoot, updateRoot, found);
  // What the update delivers is what the replacement will find.
  Path bytes = candidate;
  if (auto landed = walk.landing.find(own); landed != walk.landing.end()) {
    Candidate fresh = CheckCandidate(landed->second);
    if (fresh != Candidate::kAbsent || found == Candidate::kAbsent) {
      found = fresh;
      candidate = own;
      bytes = landed->second;
    }
  }
  item.items.push_back(Value("path", candidate));
  bool present = IsFile(bytes);
  if (present) {
    std::string head = ReadFileBytes(bytes, kStubHeaderBytes, kStubHeaderBytes).bytes;
    bool isSigned = CertificateTableOffset(head) != 0;
    item.items.push_back(Number("size", static_cast<long long>(SizeOf(bytes))));
    item.items.push_back(Flag("signed", isSigned));
    item.items.push_back(Flag("differs", FilesDiffer(bytes, stub)));
    if (found == Candidate::kAbsent) {
      item.items.push_back(Text("verdict",
                                "broken: no whole 64-bit Windows program, or its "
                                "signature is cut off; never installed"));
      Raise(walk, kCheckNeedsPerson);
    } else {
      item.items.push_back(Text("verdict", Verdict(found)));
    }
    if (found == Candidate::kStartable && requireSignature && !isSigned) {
      item.items.push_back(Text("signature", "missing, and one is required"));
      Raise(walk, kCheckNeedsPerson);
    }
  } else {
    item.value = L"none";
  }
  if (!leftovers.empty()) {
    ReportItem old = List("leftovers");
    for (const Path& leftover : leftovers) old.items.push_back(Value("", leftover));
    item.items.push_back(std::move(old));
  }
  // A start removes files only: a folder of a leftover's name stays for good.
  for (const Path& leftover : leftovers) {
    if (!IsDirectory(leftover)) continue;
    item.items.push_back(Value("never removed, a folder", leftover));
    Raise(walk, kCheckNeedsPerson);
  }
  bool replaces = IsNewStub(found, bytes, stub);
  Add(walk, std::move(item));
  if (!replaces) return;
  // Past a folder of that name, the copy takes a spare name, which the start's process id
  // picks.
  Path fresh = NewStubPathOf(stub);
  if (IsDirectory(fresh)) fresh = stub + L".<process id>.new";
  Add(walk, Start("relaunch", fresh, BuildRelaunchCommandLine(fresh, arguments),
                  FolderArgument(installRoot)));
}

// The layout in force after the migration.
std::int32_t ForecastMigration(Walk& walk, const Path& installRoot, std::int32_t onDisk,
                               MigrationPlan& plan) {
  ReportItem item = Object("migration");
  if (IsCurrentLayout(onDisk)) {
    item.value = L"none: the current layout is recorded";
    Add(walk, std::move(item));
    return onDisk;
  }
  plan = PlanInstallLayoutMigration(installRoot);
  // A move never replaces, and no folder can be made where a file stands: such a step fails
  // and leaves the layout unrecorded for the next start to try again.
  Path live = JoinPath(installRoot, L"live");
  bool possible = IsDirectory(JoinPath(live, L"content")) || (plan.moveContent && !IsFile(live));
  ReportItem steps = List("steps");
  bool fails = false;
  auto step = [&](bool blocked, std::string_view what) {
    steps.items.push_back(
        Text("", std::string(what) + (blocked ? ": fails, something is there" : "")));
    fails = fails || blocked;
  };
  if (plan.moveContent) step(!possible, "move content to live\\content");
  if (!possible) {
    item.value = L"none: live\\content cannot be made";
    item.items.push_back(std::move(steps));
    Add(walk, std::move(item));
    return 1;
  }
  if (plan.moveLogs) step(false, "move logs to live\\logs");
  step(IsFile(JoinPath(live, L"logs")) || IsFile(JoinPath(live, L"settings")),
       "make live\\logs and live\\settings where missing");
  if (plan.moveConfig) {
    step(Exists(JoinPath(live, L"settings\\openmw.cfg")),
         "move settings\\openmw.cfg to live\\settings");
  }
  Path dev = JoinPath(installRoot, L"dev");
  if (plan.hasDev) {
    step(IsFile(JoinPath(dev, L"logs")) || IsFile(JoinPath(dev, L"settings")),
         "make dev\\logs and dev\\settings");
  }
  steps.items.push_back(Text("", fails || !plan.answered
                                     ? "layout 2 stays unrecorded: the next start tries again"
                                     : "record layout 2"));
  item.items.push_back(std::move(steps));
  Add(walk, std::move(item));
  return kCurrentLayoutVersion;
}

// The program the fill will bring, when the instance lacks one.
ChildProgram ForecastFill(Walk& walk, const Path& installRoot, std::wstring_view name,
                          const MigrationPlan& plan, ChildProgram program) {
  Path instanceRoot = JoinPath(installRoot, name);
  ReportItem item = Object("fill");
  item.items.push_back(Value("instance", instanceRoot));
  // Before the migration, what becomes live's tree lies in the install root.
  Path tree = plan.moveContent && name == L"live" ? installRoot : instanceRoot;
  if (!InstanceNeedsFill(tree)) {
    item.value = L"none: the instance is complete";
    Add(walk, std::move(item));
    return program;
  }
  Path source = FillSourceFor(installRoot, name);
  Path sourceBase = source;
  if (source.empty() && name == L"dev" && plan.moveContent) sourceBase = installRoot;
  unsigned gaps = FindInstanceTreeGaps(tree);
  ReportItem lacks = List("lacks");
  if (gaps & kLacksProgram) lacks.items.push_back(Text("", "the launcher and the client"));
  if (gaps & kLacksDefaults) lacks.items.push_back(Text("", "content\\bin\\defaults.bin"));
  if (gaps & kLacksResources) lacks.items.push_back(Text("", "content\\resources\\vfs"));
  item.items.push_back(std::move(lacks));
  Path mark = FillMarkOf(instanceRoot);
  item.items.push_back(Flag("unfinished", Exists(mark)));
  long long copies = 0;
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW(SystemPath(JoinPath(mark, L"*")).c_str(), &entry));
  for (bool more = !!find; more; more = FindNextFileW(find.get(), &entry)) {
    copies += IsScratchName(entry.cFileName);
  }
  item.items.push_back(Number("leftover_copies", copies));
  if (sourceBase.empty()) {
    item.value = L"none: the other instance has no content\\bin to copy";
    Add(walk, std::move(item));
    return program;
  }
  item.items.push_back(Value("from", sourceBase));
  Add(walk, std::move(item));
  // The fill never replaces a file: the instance keeps its launcher, and gains the other's.
  ChildProgram brought = ChooseChildProgram(sourceBase);
  std::wstring_view tail = std::wstring_view(brought.path).substr(sourceBase.size());
  if (brought.found && (!program.found || tail.ends_with(L"Launcher.exe"))) {
    program.path = instanceRoot + std::wstring(tail);
    program.found = true;
  }
  return program;
}

}  // namespace

Forecast ForecastStart(const Path& folder, const Path& stub, const std::wstring& stubArguments,
                       bool requireSignature) {
  Walk walk;
  ShareAllWhenReading();
  // A folder that cannot be listed cannot be told about either.
  WIN32_FIND_DATAW entry;
  UniqueFind listed(FindFirstFileW(SystemPath(JoinPath(folder, L"*")).c_str(), &entry));
  if (!IsDirectory(folder) || !listed) {
    Add(walk, Value("error", L"the folder cannot be read: " + folder));
    walk.forecast.status = kCheckUnreadable;
    return walk.forecast;
  }
  Path installRoot = folder;
  ReportItem root = Value("install_root", installRoot);
  std::wstring stubName = stub.substr(folder.size() + 1);
  root.items.push_back(
      Value("why", IsFile(stub) ? L"the folder that holds " + stubName
                                : L"the folder " + stubName + L" would run from; it is not there"));
  Path above = FindEnclosingInstallRoot(installRoot, stub);
  bool inside = !above.empty();
  if (inside) {
    installRoot = above;
    root.value = installRoot;
    root.items.back().value = L"a stub inside the instance " + folder +
                              L" changes nothing and starts what the stub above would start";
  }
  Add(walk, std::move(root));

  FileBytes settings = ReadLauncherSettings(installRoot);
  std::wstring name = ReadInstanceName(installRoot);
  std::string_view line = FindServerLine(settings.bytes);
  ReportItem instance = Value("instance", name);
  instance.items.push_back(Value("chosen_by", line.empty() ? L"no server line" : Readable(line)));
  std::int32_t onDisk = ReadInstallLayoutVersion(installRoot);
  instance.items.push_back(Number("layout_on_disk", onDisk));
  Add(walk, std::move(instance));

  std::int32_t inForce = onDisk;
  MigrationPlan plan;
  if (!inside) {
    Path updateRoot = InstanceRootFor(installRoot, name, onDisk);
    ForecastJournal(walk, updateRoot, stub);
    if (walk.stopped) return walk.forecast;
    ForecastCandidate(walk, installRoot, updateRoot, stub, stubArguments, requireSignature);
    inForce = ForecastMigration(walk, installRoot, onDisk, plan);
  }
  Path instanceRoot = InstanceRootFor(installRoot, name, inForce);
  Path contentBase = ContentBaseFor(installRoot, instanceRoot, inForce);
  // Before the migration, what becomes live's content lies in the install root.
  Path seen = contentBase;
  if (plan.moveContent && contentBase == JoinPath(installRoot, L"live")) seen = installRoot;
  ChildProgram program = ChooseChildProgram(seen);
  program.path = contentBase + program.path.substr(seen.size());
  if (!inside && IsCurrentLayout(inForce)) {
    program = ForecastFill(walk, installRoot, name, plan, program);
  }
  if (!program.found) {
    StopWithMessage(walk, MissingPartMessage(program.path));
    return walk.forecast;
  }
  // Windows refuses to start what is no program at all.
  Path image = IsFile(program.path) ? program.path : Path();
  if (!image.empty() && !ReadFileBytes(image, 2, 2).bytes.starts_with("MZ")) {
    StopWithMessage(walk, kMessageNotStarted);
    return walk.forecast;
  }
  Path resources = ResolveResourcesDir(installRoot, instanceRoot, inForce);
  std::wstring commandLine =
      BuildChildCommandLine(program.path, stubArguments, instanceRoot, installRoot, resources);
  Add(walk, Start("start", program.path, commandLine, ChildFolderFor(contentBase)));
  return walk.forecast;
}

}  // namespace quillmere
