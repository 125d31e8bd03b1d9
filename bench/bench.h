// What the benchmark drivers share: a clock, order statistics, small file helpers.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

// Milliseconds on the performance counter, which Wine takes from the monotonic
// clock, so values from one Wine session compare across processes.
inline double NowMs() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Quantile q of the samples, interpolated between neighbours (q = 0.5: the median).
inline double Quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  double at = q * static_cast<double>(samples.size() - 1);
  size_t low = static_cast<size_t>(at);
  size_t high = std::min(low + 1, samples.size() - 1);
  return samples[low] + (samples[high] - samples[low]) * (at - static_cast<double>(low));
}
inline double Median(const std::vector<double>& samples) { return Quantile(samples, 0.5); }

// "median (p25–p75)" for a table cell.
inline std::string Cell(const std::vector<double>& samples, const char* format = "%.1f") {
  char median[32], low[32], high[32], cell[112];
  std::snprintf(median, sizeof median, format, Median(samples));
  std::snprintf(low, sizeof low, format, Quantile(samples, 0.25));
  std::snprintf(high, sizeof high, format, Quantile(samples, 0.75));
  std::snprintf(cell, sizeof cell, "%s (%s–%s)", median, low, high);
  return cell;
}

inline bool WriteWholeFile(const std::wstring& path, const void* bytes, DWORD size) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes, size, &written, nullptr);
  CloseHandle(file);
  return ok && written == size;
}

// Removes a folder and everything below it.
inline void DeleteTree(const std::wstring& dir) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = dir + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        DeleteTree(path);
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(dir.c_str());
}
