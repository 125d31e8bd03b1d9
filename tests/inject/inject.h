// Loads a library into a process that was created suspended, before any of its own code
// runs: a thread of the process calls LoadLibraryW with the library's path, and the
// library is in place once that thread ends.
#pragma once

#include <windows.h>

#include <cwchar>

inline bool InjectLibrary(HANDLE process, const wchar_t* library) {
  SIZE_T size = (std::wcslen(library) + 1) * sizeof(wchar_t);
  void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  if (remote == nullptr || !WriteProcessMemory(process, remote, library, size, nullptr)) {
    return false;
  }
  // Kernel32 lies at the same address in every process of a session.
  auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW"));
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr);
  if (thread == nullptr) return false;
  WaitForSingleObject(thread, INFINITE);
  DWORD loaded = 0;
  GetExitCodeThread(thread, &loaded);
  CloseHandle(thread);
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return loaded != 0;
}
