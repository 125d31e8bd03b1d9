// A launcher that stays a while, so that the program that started it can be
// looked at while it waits: sleeps QUILLMERE_BENCH_SLEEP_MS milliseconds (0 when
// unset) and exits with 0.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t text[16] = L"0";
  GetEnvironmentVariableW(L"QUILLMERE_BENCH_SLEEP_MS", text, 16);
  Sleep(static_cast<DWORD>(std::wcstoul(text, nullptr, 10)));
  return 0;
}
