// Trees for the Windows-side tests, written and read back in one short form:
// entries separated by "|", a folder ends in "\", a file may carry its bytes
// after "=" (e.g. L"content\\bin\\|logs\\l=log text").
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "base/handle.h"

using namespace quillmere;

namespace wintest {

using e2e::Hold;
using e2e::Show;

inline std::vector<std::wstring> Split(std::wstring_view listing) {
  std::vector<std::wstring> entries;
  for (std::size_t start = 0, end; start < listing.size(); start = end + 1) {
    end = std::min(listing.find(L'|', start), listing.size());
    entries.emplace_back(listing.substr(start, end - start));
  }
  return entries;
}

// `listing` as Tree() gives it, so that a table may list entries in any order.
inline std::string Sorted(std::wstring_view listing) {
  std::vector<std::wstring> entries = Split(listing);
  std::sort(entries.begin(), entries.end());
  std::wstring joined;
  for (const auto& entry : entries) joined += (joined.empty() ? L"" : L"|") + entry;
  return Show(joined);
}

inline void Lay(const std::wstring& root, std::wstring_view listing) {
  for (const auto& entry : Split(listing)) {
    std::size_t eq = entry.find(L'=');
    std::wstring path = root + L"\\" + entry.substr(0, eq), text = eq == entry.npos ? L"" : entry.substr(eq + 1);
    if (path.back() == L'\\') e2e::MakeDirs(path.substr(0, path.size() - 1));
    else e2e::WriteBytes(path, std::string(text.begin(), text.end()));
  }
}

// Every entry under `root`, files with their bytes when they have any.
inline std::string Tree(const std::wstring& root) {
  std::wstring listing;
  for (const auto& entry : e2e::ListTree(root)) {
    std::string bytes = entry.back() == L'\\' ? "" : e2e::ReadBytes(root + L"\\" + entry);
    listing += L"|" + entry + (bytes.empty() ? L"" : L"=" + std::wstring(bytes.begin(), bytes.end()));
  }
  return Sorted(listing.empty() ? listing : listing.substr(1));
}

// The harness's temporary folder, which must be deletable at the end, with a
// fresh folder in it for each table row.
class Folder : public e2e::InstallFolder {
 protected:
  std::wstring Root() { return NewRoot(L"r" + std::to_wstring(++rows_)); }
  int rows_ = 0;
};

}  // namespace wintest
