// The real Quillmere.exe, black box, on the folders that scenarios.txt describes:
// lays out the folder, starts the stub with the probe as launcher and client, reads
// and closes its message boxes, then compares what the probe received, the exit
// code and the whole folder with what the scenario expects.
//
//   driver SCENARIOS NAME STUB PROBE          the scenario's starts
//   driver SCENARIOS NAME STUB PROBE crash    killed at many moments and started
//                                             again (QUILLMERE_CRASH_KILLS, 8)
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

#include "../text.h"

namespace {

using Tree = std::map<std::wstring, std::string>;  // path under the root, folders ending in "\": bytes
using Words = std::vector<std::wstring>;
using Lines = std::multimap<std::wstring, std::wstring>;  // key: value, in the file's order

struct Scenario {
  Lines given, first, second;  // the start's set-up, what the first and the second start must do
  bool once = false, again = false;
};

struct Seen {
  std::vector<DWORD> exits;
  Words boxes;
  std::vector<Words> probes;  // per program started: its path, command line, working folder
};

int failures = 0;
Scenario s;
std::string stub, probe, planted;
std::wstring dir, folder, root, exe, args, probeOut;  // root: the folder as the stub sees it

std::wstring Wide(std::string_view text) { return std::wstring(text.begin(), text.end()); }

void Check(bool ok, const std::wstring& what) {
  if (!ok) std::printf("FAIL %ls\n", what.c_str()), ++failures;
}

std::wstring Get(const Lines& lines, const wchar_t* key, const wchar_t* otherwise = L"") {
  auto it = lines.find(key);
  return it == lines.end() ? otherwise : it->second;
}

Words Split(const std::wstring& text, wchar_t by = L' ') {
  Words words;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find(by, at), text.size());
    if (end > at) words.push_back(text.substr(at, end - at));
  }
  return words;
}

// "{text}*N" stands for N copies of text, in which # is the copy's number and % that
// number divided by 100; "/" in paths for "\".
std::wstring Expand(std::wstring text, bool path = false) {
  for (std::size_t open = text.size(); open-- > 0;) {
    std::size_t close = text.find(L"}*", open), end = text.find_first_not_of(L"0123456789", close + 2);
    if (text[open] != L'{' || (open > 0 && text[open - 1] == L'\\') || close == std::wstring::npos) continue;
    std::wstring copies;
    for (int i = 0; i < std::stoi(text.substr(close + 2)); ++i) {
      for (wchar_t c : text.substr(open + 1, close - open - 1))
        copies += c == L'#' ? std::to_wstring(i) : c == L'%' ? std::to_wstring(i / 100) : std::wstring(1, c);
    }
    text.replace(open, std::min(end, text.size()) - open, copies);
  }
  if (path) std::replace(text.begin(), text.end(), L'/', L'\\');
  return text;
}

bool Under(const std::wstring& key, const std::wstring& path) {
  return path.back() == L'\\' ? key.starts_with(path) : key == path;
}

std::string Content(const std::wstring& path, const std::wstring& text) {
  std::string image = stub;
  std::size_t pe = static_cast<unsigned char>(stub[0x3C]) | static_cast<unsigned char>(stub[0x3D]) << 8;
  if (text == L"@stub") return stub;
  if (text == L"@probe") return probe;
  if (text == L"@planted") return planted;
  if (text == L"@stub+") return stub + std::string(8 << 20, 'Q');  // a newer stub, slow to copy
  if (text == L"@cut") return stub.substr(0, 100000);
  if (text == L"@arm64") return image.replace(pe + 4, 2, "\x64\xAA");
  if (text == L"@dll") return image.replace(pe + 23, 1, "\x20");
  if (text == L"@noload") return image.replace(image.find("msvcrt.dll"), 10, "msvcrq.dll");
  if (text.starts_with(L"@rand:")) {
    std::string bytes(std::stoul(text.substr(6)), '\0');
    std::size_t seed = std::hash<std::wstring>()(path);
    for (char& c : bytes) c = static_cast<char>((seed = seed * 6364136223846793005u + 1442695040888963407u) >> 56);
    return bytes;
  }
  return Unescape(std::string(text.begin(), text.end()));
}

// Changes `tree` by entries: "path" a file holding its own name, "path=bytes",
// "path/" a folder, "^path..." a read-only file; "-path" removes, "a>b" moves and
// "a>>b" copies a path with all under it.
Tree Apply(Tree tree, const std::wstring& entries, Words* readOnly = nullptr) {
  for (std::wstring entry : Split(Expand(entries))) {
    std::size_t equals = entry.find(L'='), arrow = entry.substr(0, equals).find(L'>');
    if (entry[0] == L'-') {
      std::erase_if(tree, [&](const auto& item) { return Under(item.first, Expand(entry.substr(1), true)); });
    } else if (arrow != std::wstring::npos) {
      std::wstring from = Expand(entry.substr(0, arrow), true), to = Expand(entry.substr(entry.rfind(L'>') + 1), true);
      bool copy = entry[arrow + 1] == L'>';
      Tree carried;
      for (auto it = tree.begin(); it != tree.end();) {
        bool under = Under(it->first, from);
        if (under) carried[to + it->first.substr(from.size())] = it->second;
        it = under && !copy ? tree.erase(it) : std::next(it);
      }
      // A move replaces what stands at its target; a copy never does.
      for (const auto& [path, bytes] : carried) copy ? (void)tree.emplace(path, bytes) : (void)(tree[path] = bytes);
    } else {
      std::wstring path = Expand(entry.substr(entry[0] == L'^', equals - (entry[0] == L'^')), true);
      if (entry[0] == L'^' && readOnly) readOnly->push_back(path);
      tree[path] = path.back() == L'\\' ? "" : Content(path, equals == std::wstring::npos ? path.substr(path.rfind(L'\\') + 1) : entry.substr(equals + 1));
    }
  }
  for (const auto& item : Tree(tree)) {
    for (std::size_t at = 0; (at = item.first.find(L'\\', at) + 1) != 0 && at < item.first.size();) tree[item.first.substr(0, at)];
  }
  return tree;
}

std::wstring Long(const std::wstring& relative) { return L"\\\\?\\" + folder + L"\\" + relative; }

// Runs a program of the machine that Wine runs on, and waits for it.
void RunUnix(const wchar_t* program, std::wstring line) {
  STARTUPINFOW info = {sizeof info};
  PROCESS_INFORMATION process = {};
  Check(CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &info, &process), line);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread), CloseHandle(process.hProcess);
}

std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr);
  std::string bytes(file == INVALID_HANDLE_VALUE ? 0 : GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return bytes;
}

// Visits what lies in `folder` (relative, ending in "\"), subfolders after their contents.
template <typename Visit>
void Walk(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(Long(folder + L"*").c_str(), &entry);
  for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
    std::wstring path = folder + entry.cFileName;
    if (entry.cFileName == std::wstring(L".") || entry.cFileName == std::wstring(L"..")) continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Walk(path += L"\\", visit);
    visit(path);
  }
  FindClose(find);
}

Tree Snapshot() {
  Tree tree;
  Walk(L"", [&](const std::wstring& path) { tree[path] = path.back() == L'\\' ? "" : ReadAll(Long(path)); });
  // The stub that a replacement set aside is deleted by this or a later start, as it
  // may still run then: one that is whole makes no difference.
  if (auto old = tree.find(exe + L".old"); old != tree.end() && old->second == stub) tree.erase(old);
  return tree;
}

void LayOut(const std::wstring& entries) {
  Walk(L"", [](const std::wstring& path) {
    SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    path.back() == L'\\' ? RemoveDirectoryW(Long(path).c_str()) : DeleteFileW(Long(path).c_str());
  });
  Words readOnly;
  for (const auto& [path, bytes] : Apply({}, entries, &readOnly)) {
    HANDLE file = path.back() == L'\\' ? (CreateDirectoryW(Long(path).c_str(), nullptr), nullptr)
                                       : CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    Check(!file || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr), L"cannot write " + path);
    if (file) CloseHandle(file);
  }
  for (const auto& path : readOnly) SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_READONLY);
}

void Compare(const Tree& want, const Tree& got, const std::wstring& when) {
  int shown = 0;
  for (const auto& [path, bytes] : want) {
    auto it = got.find(path);
    if (it == got.end() || it->second != bytes)
      Check(++shown > 8, when + L": " + path + (it == got.end() ? L" is missing" : L" holds other bytes"));
  }
  for (const auto& entry : got) Check(want.count(entry.first) || ++shown > 8, when + L": " + entry.first + L" is left over");
}

// Starts the stub once for each delay, all in one job; closes every box that a
// process of the job shows, and waits until the job is empty or, after `limitMs`,
// ends it.
Seen Run(const std::vector<DWORD>& delays, double limitMs = 120000) {
  Seen seen;
  DeleteFileW(probeOut.c_str());
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  std::vector<HANDLE> processes;
  std::vector<HWND> closed;
  std::wstring path = root + L"\\" + exe, line = L"\"" + path + L"\" " + args;
  ULONGLONG start = GetTickCount64();
  for (DWORD delay : delays) {
    Sleep(delay);
    STARTUPINFOW info = {sizeof info};
    PROCESS_INFORMATION process = {};
    // The one failure retried: now and then Wine fails a start with ERROR_INTERNAL_ERROR
    // before the program runs.
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &info, &process) ||
          GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    Check(process.hProcess && AssignProcessToJobObject(job, process.hProcess), L"cannot start " + path);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    processes.push_back(process.hProcess);
  }
  struct { JOBOBJECT_BASIC_PROCESS_ID_LIST list; ULONG_PTR more[63]; } ids = {{64}};
  while (QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr) && ids.list.NumberOfProcessIdsInList) {
    if (GetTickCount64() - start > limitMs) {
      Check(limitMs < 120000, L"still running after 120 s");
      TerminateJobObject(job, 9);
      WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), TRUE, 10000);
    }
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr));) {
      DWORD pid = 0;
      wchar_t caption[64], text[1024];
      GetWindowThreadProcessId(box, &pid);
      if (!std::count(ids.list.ProcessIdList, ids.list.ProcessIdList + ids.list.NumberOfProcessIdsInList, pid) ||
          std::count(closed.begin(), closed.end(), box) || !IsWindowVisible(box) || !GetWindowTextW(box, caption, 64) ||
          !GetDlgItemTextW(box, 0xFFFF, text, 1024)) continue;  // a message box's text has the id 0xFFFF
      seen.boxes.push_back(std::wstring(caption) + L"|" + text);
      closed.push_back(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    Sleep(10);
  }
  for (HANDLE process : processes) {
    seen.exits.push_back(0);
    GetExitCodeProcess(process, &seen.exits.back());
    CloseHandle(process);
  }
  CloseHandle(job);
  std::string records = ReadAll(probeOut);
  Words fields = Split(std::wstring(reinterpret_cast<const wchar_t*>(records.data()), records.size() / 2), L'\0');
  for (std::size_t i = 0; i + 3 <= fields.size(); i += 3) seen.probes.push_back({fields[i], fields[i + 1], fields[i + 2]});
  return seen;
}

Words Arguments(const std::wstring& line) {
  int count = 0;
  wchar_t** split = CommandLineToArgvW(line.c_str(), &count);
  Words words(split, split + count);
  LocalFree(split);
  return words;
}

// Whether a start did what `o` says: "launch PROGRAM [INSTANCE RESOURCES]" for each
// program started, "box N [PATH]", "line TEXT" and "exit CODE".
void Expect(const Lines& o, const Seen& seen, const std::wstring& when) {
  const wchar_t* messages[] = {
      L"Could not work out where Quillmere is installed.",
      L"An update could not be finished.\n\nA file was in use. Close Tarnvayle if it is still running, then try again.",
      L"Quillmere is missing part of its installation.\n\nExpected to find:\n",
      L"Quillmere could not be started.\n\nAntivirus software sometimes blocks this. Allow the Quillmere folder and try again."};
  Words box = Split(Get(o, L"box")), boxes;
  if (!box.empty()) boxes.push_back(L"Vellmarrow: Quillmere|" + std::wstring(messages[std::stoi(box[0]) - 1]));
  if (box.size() > 1) boxes[0] += root + L"\\" + Expand(box[1], true) + L"\n\nExtract the whole Quillmere folder from the download, keeping it intact.";
  Check(seen.boxes == boxes, when + L": messages " + (seen.boxes.empty() ? L"none" : seen.boxes[0]));
  Check(seen.exits[0] == std::wcstoul(Get(o, L"exit", L"7").c_str(), nullptr, 0), when + L": exit code " + std::to_wstring(seen.exits[0]));
  Check(seen.probes.size() == o.count(L"launch"), when + L": " + std::to_wstring(seen.probes.size()) + L" programs started");
  auto [first, last] = o.equal_range(L"launch");
  for (std::size_t i = 0; first != last && i < seen.probes.size(); ++first, ++i) {
    Words want = Split(first->second), argv = Arguments(L"x " + args);
    argv[0] = root + L"\\" + Expand(want[0], true);
    auto under = [](const std::wstring& path) {
      return path == L"." ? root : path[0] == L'=' ? path.substr(1) : root + L"\\" + Expand(path, true);
    };
    if (want.size() > 1) {
      argv.insert(argv.end(), {L"--instance-root", under(want[1]), L"--quillmere-settings", root + L"\\settings", L"--resources", under(want[2])});
    }
    std::wstring folder = want.size() > 1 ? argv[0].substr(0, argv[0].rfind(L'\\')) : root;
    Check(seen.probes[i][0] == argv[0] && Arguments(seen.probes[i][1]) == argv && seen.probes[i][2] == folder,
          when + L": started " + seen.probes[i][1] + L" in " + seen.probes[i][2]);
  }
  std::wstring line = Get(o, L"line");
  for (std::size_t at; (at = line.find(L"{R}")) != std::wstring::npos;) line.replace(at, 3, root);
  Check(line.empty() || seen.probes.empty() || seen.probes[0][1] == line, when + L": command line " + (seen.probes.empty() ? L"" : seen.probes[0][1]));
}

void Starts() {
  LayOut(Get(s.given, L"tree"));
  Tree want = Apply(Snapshot(), Get(s.first, L"after"));
  std::wstring hold = Get(s.given, L"hold");
  HANDLE held = hold.empty() ? nullptr : CreateFileW(Long(Expand(hold, true)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  Check(held != INVALID_HANDLE_VALUE, L"cannot hold " + hold);
  Expect(s.first, Run({0}), L"first start");
  CloseHandle(held);
  Compare(want, Snapshot(), L"after the first start");
  if (s.once) return;
  // The second start finishes what the first could not, or changes nothing.
  Lines second = s.again ? s.second : s.first;
  if (!s.again) second.erase(L"after");
  Expect(second, Run({0}), L"second start");
  Compare(want = Apply(want, Get(second, L"after")), Snapshot(), L"after the second start");
  for (const std::wstring& gap : Split(Get(s.given, L"twice"))) {
    // Two stubs on one folder, the second started `gap` ms after the first.
    LayOut(Get(s.given, L"tree"));
    Seen seen = Run({0, std::stoul(gap)});
    Check(seen.probes.size() == 2 * s.first.count(L"launch"), L"two stubs " + gap + L" ms apart: " + std::to_wstring(seen.probes.size()) + L" programs started");
    Compare(Apply(Apply({}, Get(s.given, L"tree")), Get(s.first, L"after")), Snapshot(), L"two stubs " + gap + L" ms apart");
  }
}

// Kills the first start at moments spread over an uninterrupted one, then starts the
// stub until it reaches the launcher, and once more: the folder must be what two
// uninterrupted starts leave.
void Crashes() {
  const char* setting = std::getenv("QUILLMERE_CRASH_KILLS");
  int kills = setting ? std::atoi(setting) : 8, gaps = 0;
  Tree want = Apply(Apply(Apply({}, Get(s.given, L"tree")), Get(s.first, L"after")), Get(s.second, L"after"));
  LayOut(Get(s.given, L"tree"));
  ULONGLONG start = GetTickCount64();
  Run({0});
  double span = static_cast<double>(GetTickCount64() - start);
  for (int kill = 0; kill < kills; ++kill) {
    LayOut(Get(s.given, L"tree"));
    // The moments walk the span in golden-ratio steps, so any number spreads evenly.
    Run({0}, span * std::fmod(0.5 + kill * 0.6180339887, 1.0));
    if (GetFileAttributesW(Long(exe).c_str()) == INVALID_FILE_ATTRIBUTES) {
      // Killed between the two renames of a self-replacement (by "@stub+"): nothing is
      // left to start, but neither stub may have lost a byte.
      Check(ReadAll(Long(exe + L".old")) == stub && ReadAll(Long(exe + L".new")) == Content(L"", L"@stub+"), L"a stub is cut short");
      ++gaps;
      continue;
    }
    bool launched = false;
    for (int start = 0; start < 3 && !launched; ++start) launched = !Run({0}).probes.empty();
    Check(launched, L"no start reached the launcher after kill " + std::to_wstring(kill));
    Run({0});
    Compare(want, Snapshot(), L"after kill " + std::to_wstring(kill));
  }
  std::printf("%d kills over %.0f ms, %d between the renames of a self-replacement\n", kills, span, gaps);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return std::printf("usage: driver SCENARIOS NAME STUB PROBE [crash]\n"), 2;
  std::ifstream in(argv[1]);
  std::map<std::wstring, std::wstring> sets;
  Lines* lines = nullptr;
  for (std::string raw, next; std::getline(in, raw);) {
    while (in.peek() == ' ' && std::getline(in, next)) raw += next;
    std::wstring line = Wide(raw);
    if (line.empty() || line[0] == L'#') continue;
    for (auto it = sets.rbegin(); it != sets.rend(); ++it) {
      for (std::size_t at; (at = line.find(L'$' + it->first)) != std::wstring::npos;) line.replace(at, it->first.size() + 1, it->second);
    }
    std::wstring key = line.substr(0, line.find(L' ')), value = line.substr(std::min(line.size(), key.size() + 1));
    if (key == L"set") sets[value.substr(0, value.find(L' '))] = value.substr(value.find(L' ') + 1);
    if (key == L"==") lines = Split(value)[0] == Wide(argv[2]) ? &s.first : nullptr;
    if (key == L"==" && lines) s.once = value.find(L" once") != std::wstring::npos;
    if (key == L"again" && lines) s.again = true, lines = &s.second;
    if (!lines || key == L"==" || key == L"again") continue;
    bool given = key == L"tree" || key == L"root" || key == L"drive" || key == L"exe" || key == L"args" || key == L"hold" ||
                 key == L"twice";
    (given ? s.given : *lines).emplace(key, value);
  }
  if (s.first.empty() && s.given.empty()) return std::printf("no scenario %s\n", argv[2]), 2;
  stub = ReadAll(Wide(argv[3]));
  probe = ReadAll(Wide(argv[4]));
  planted = ReadAll(Wide(argv[4]).replace(std::string_view(argv[4]).rfind("probe.exe"), 9, L"planted.dll"));
  wchar_t temp[MAX_PATH];
  dir = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"qm" + std::to_wstring(GetCurrentProcessId());
  folder = root = dir + L"\\" + Expand(Get(s.given, L"root", L"My Game"));
  CreateDirectoryW(dir.c_str(), nullptr);
  CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr);
  // "drive Q": the stub sees the install folder as the root of drive Q. Wine keeps
  // its drives as links in the prefix, and later processes see a new one.
  std::wstring drive = Get(s.given, L"drive"), link;
  if (!drive.empty()) {
    wchar_t prefix[MAX_PATH];
    auto unixName = reinterpret_cast<char* (*)(const wchar_t*)>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
    link = std::wstring(prefix, GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) + L"/dosdevices/" + drive + L":";
    RunUnix(L"Z:\\bin\\ln", L"ln -sfn \"" + Wide(unixName(folder.c_str())) + L"\" \"" + link + L"\"");
    root = drive + L":";
  }
  exe = Expand(Get(s.given, L"exe", L"Quillmere.exe"), true);
  args = Get(s.given, L"args", L"-x \"a b\"");
  probeOut = dir + L"\\probe";
  SetEnvironmentVariableW(L"QUILLMERE_PROBE_OUT", probeOut.c_str());
  // The probe ends with the first start's exit code, unless that says "stub" (0) or "message" (1).
  std::wstring code = Get(s.first, L"exit", L"7");
  SetEnvironmentVariableW(L"QUILLMERE_PROBE_EXIT", std::wcstoul(code.c_str(), nullptr, 0) > 1 ? code.c_str() : L"7");
  argc > 5 ? Crashes() : Starts();
  LayOut(L"");
  if (!link.empty()) RunUnix(L"Z:\\bin\\rm", L"rm \"" + link + L"\"");
  RemoveDirectoryW((L"\\\\?\\" + folder).c_str());
  DeleteFileW(probeOut.c_str());
  Check(RemoveDirectoryW(dir.c_str()), L"the test folder is still in use");
  return failures != 0;
}
