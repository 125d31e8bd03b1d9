// quillmere-check: tells what the next start of Quillmere.exe will do with its folder, and
// why, without changing anything.
//
//   quillmere-check [--json] [--require-signature] [--stub NAME] [FOLDER] [-- ARGUMENTS]
//
// FOLDER defaults to the one the check lies in, NAME to Quillmere.exe; ARGUMENTS are those
// the player's start passes on to the launcher.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <string_view>

#include "base/files.h"
#include "check/forecast.h"
#include "check/report_format.h"
#include "handover/command_line.h"
#include "install/install_root_rules.h"

namespace {

void Print(DWORD stream, const std::string& text) {
  HANDLE handle = GetStdHandle(stream);
  DWORD mode = 0, written = 0;
  // A console shows UTF-16; a file or a pipe gets UTF-8.
  if (GetConsoleMode(handle, &mode)) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    wide.data(), static_cast<int>(wide.size())));
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

int Usage(const std::string& problem) {
  Print(STD_ERROR_HANDLE, "quillmere-check: " + problem +
                              "\nusage: quillmere-check [--json] [--require-signature] "
                              "[--stub NAME] [FOLDER] [-- ARGUMENTS]\n");
  return quillmere::kCheckUnreadable;
}

// The full path of `folder`, without a trailing backslash.
quillmere::Path FullFolder(const std::wstring& folder) {
  std::wstring full(GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(
      GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  while (full.size() > 2 && full.back() == L'\\') full.pop_back();
  if (full.size() == 3 && full[1] == L':') full.pop_back();
  return full;
}

}  // namespace

int wmain() {
  // Files of the download folder lie beside the check too: none of them may load into it.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return Usage("the command line cannot be read");
  bool json = false, requireSignature = false;
  std::wstring folder, stubName = L"Quillmere.exe", arguments;
  int at = 1;
  for (; at < count; ++at) {
    std::wstring_view argument = argv[at];
    if (argument == L"--") {
      ++at;
      break;
    }
    if (argument == L"--json") {
      json = true;
    } else if (argument == L"--require-signature") {
      requireSignature = true;
    } else if (argument == L"--stub" && at + 1 < count) {
      stubName = argv[++at];
    } else if (argument.starts_with(L"--") || !folder.empty()) {
      return Usage("unknown argument " + quillmere::Utf8(argument));
    } else {
      folder = argument;
    }
  }
  if (at < count) {
    quillmere::AppendQuotedArguments(
        arguments,
        std::span<const wchar_t* const>(argv + at, static_cast<std::size_t>(count - at)));
  }
  if (stubName.empty() || stubName.find_first_of(L"\\/:") != std::wstring::npos) {
    return Usage("--stub takes a file name");
  }
  quillmere::Path root = folder.empty() ? quillmere::InstallRootOf(quillmere::GetExecutablePath())
                                        : FullFolder(folder);
  LocalFree(argv);
  if (root.empty()) return Usage("the folder cannot be told");
  quillmere::Forecast forecast = quillmere::ForecastStart(root, quillmere::JoinPath(root, stubName),
                                                          arguments, requireSignature);
  forecast.report.items.push_back(quillmere::Number("exit", forecast.status));
  Print(STD_OUTPUT_HANDLE,
        json ? quillmere::RenderJson(forecast.report) : quillmere::RenderText(forecast.report));
  return forecast.status;
}
