// Stands in for a virus scanner, as Wine has none: watches FOLDER and all under it
// and opens every file created or renamed there without sharing, for 150 ms, each
// on a thread of its own. Prints "ready" once it watches; ends when its input ends.
//
//   scanner FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

DWORD WINAPI Look(void* name) {
  std::wstring* path = static_cast<std::wstring*>(name);
  HANDLE file = INVALID_HANDLE_VALUE;
  // Whoever wrote the file may not have closed it yet.
  for (int attempt = 0; attempt < 100; ++attempt) {
    file = CreateFileW(path->c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    Sleep(1);
  }
  if (file != INVALID_HANDLE_VALUE) {
    Sleep(150);
    CloseHandle(file);
  }
  delete path;
  return 0;
}

DWORD WINAPI EndWithInput(void*) {
  char byte;
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read > 0) {
  }
  ExitProcess(0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring folder = argv[1];
  HANDLE watched = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, 7, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  OVERLAPPED overlapped = {};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  alignas(DWORD) char changes[65536];
  bool ready = false;
  for (;;) {
    DWORD size = 0;
    ResetEvent(overlapped.hEvent);
    if (!ReadDirectoryChangesW(watched, changes, sizeof changes, TRUE, FILE_NOTIFY_CHANGE_FILE_NAME,
                               nullptr, &overlapped, nullptr)) {
      return 1;
    }
    if (!ready) {
      std::printf("ready\n");
      std::fflush(stdout);
      CloseHandle(CreateThread(nullptr, 0, EndWithInput, nullptr, 0, nullptr));
      ready = true;
    }
    if (!GetOverlappedResult(watched, &overlapped, &size, TRUE)) return 1;
    for (char* at = changes; size > 0;) {
      auto* change = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(at);
      std::wstring name(change->FileName, change->FileNameLength / sizeof(wchar_t));
      if (change->Action == FILE_ACTION_ADDED || change->Action == FILE_ACTION_RENAMED_NEW_NAME) {
        auto* path = new std::wstring(folder + L"\\" + name);
        CloseHandle(CreateThread(nullptr, 0, Look, path, 0, nullptr));
      }
      if (change->NextEntryOffset == 0) break;
      at += change->NextEntryOffset;
    }
  }
}
