#include "update/journal_format.h"

#include "base/text_lines.h"
#include "base/utf8.h"

namespace quillmere {

namespace {

// CON, NUL, COM1 and the like name devices in any folder, with any extension.
bool IsDosDeviceName(std::wstring_view component) {
  component = component.substr(0, component.find(L'.'));
  while (!component.empty() && component.back() == L' ') component.remove_suffix(1);
  auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; };
  std::wstring name;
  for (wchar_t c : component) name.push_back(upper(c));
  if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL" || name == L"CONIN$" ||
      name == L"CONOUT$") {
    return true;
  }
  // Windows counts the superscript digits one to three as digits here too.
  return name.size() == 4 && (name.starts_with(L"COM") || name.starts_with(L"LPT")) &&
         ((name[3] >= L'0' && name[3] <= L'9') || name[3] == L'\u00B9' || name[3] == L'\u00B2' ||
          name[3] == L'\u00B3');
}

}  // namespace

bool IsPlainRelativePath(std::wstring_view path) {
  if (path.empty() || path.front() == L'\\' || path.front() == L'/') return false;
  for (wchar_t c : path) {
    if (c < 0x20 || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos) return false;
  }
  constexpr std::size_t kLongestName = 255;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring_view::npos) end = path.size();
    std::wstring_view component = path.substr(start, end - start);
    bool dotsAndBlanks =
        !component.empty() && component.find_first_not_of(L". ") == std::wstring_view::npos;
    if (dotsAndBlanks || component.size() > kLongestName || IsDosDeviceName(component))
      return false;
    start = end + 1;
  }
  return true;
}

JournalLine ParseJournalLine(std::string_view line, JournalEntry& entry) {
  if (line.empty() || line.front() == '#') return JournalLine::kNoEntry;
  std::size_t bar = line.find('|');
  if (bar == std::string_view::npos) return JournalLine::kNoEntry;
  if (!DecodeUtf8(line.substr(0, bar), entry.stagedName) ||
      !DecodeUtf8(line.substr(bar + 1), entry.targetPath)) {
    return JournalLine::kNotUtf8;
  }
  for (wchar_t& c : entry.targetPath) {
    if (c == L'/') c = L'\\';
  }
  if (!IsPlainRelativePath(entry.stagedName) || !IsPlainRelativePath(entry.targetPath)) {
    return JournalLine::kUnsafe;
  }
  return JournalLine::kEntry;
}

std::vector<JournalEntry> ParseUpdateJournal(std::string_view bytes) {
  std::vector<JournalEntry> entries;
  ForEachTrimmedLine(bytes, [&](std::string_view line) {
    JournalEntry entry;
    if (ParseJournalLine(line, entry) == JournalLine::kEntry) entries.push_back(std::move(entry));
    return true;
  });
  return entries;
}

}  // namespace quillmere
