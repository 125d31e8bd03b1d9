#include "update/journal_format.h"

#include <cstdint>

#include "startup/text_lines.h"

bool DecodeUtf8(std::string_view bytes, std::wstring& out) {
  out.clear();
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    std::size_t length;
    std::uint32_t code;
    std::uint32_t lowest;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1Fu, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0Fu, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07u, lowest = 0x10000;
    } else {
      return false;  // a continuation byte, an overlong two-byte lead, or past U+10FFFF
    }
    if (bytes.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0u) != 0x80u) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FFu)));
    } else {
      out.push_back(static_cast<wchar_t>(code));
    }
    i += length;
  }
  return true;
}

namespace {

// CON, NUL, COM1 and the like name devices in any folder, with any extension.
bool IsDosDeviceName(std::wstring_view component) {
  component = component.substr(0, component.find(L'.'));
  while (!component.empty() && component.back() == L' ') component.remove_suffix(1);
  auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; };
  std::wstring name;
  for (wchar_t c : component) name.push_back(upper(c));
  if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL") return true;
  // Windows counts the superscript digits one to three as digits here too.
  return name.size() == 4 && (name.starts_with(L"COM") || name.starts_with(L"LPT")) &&
         ((name[3] >= L'0' && name[3] <= L'9') || name[3] == L'\u00B9' || name[3] == L'\u00B2' ||
          name[3] == L'\u00B3');
}

}  // namespace

bool IsContainedRelativePath(std::wstring_view path) {
  if (path.empty() || path.front() == L'\\' || path.front() == L'/') return false;
  if (path.find_first_of(std::wstring_view(L":\0", 2)) != std::wstring_view::npos) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring_view::npos) end = path.size();
    std::wstring_view component = path.substr(start, end - start);
    bool dotsAndBlanks =
        !component.empty() && component.find_first_not_of(L". ") == std::wstring_view::npos;
    if (dotsAndBlanks || IsDosDeviceName(component)) return false;
    start = end + 1;
  }
  return true;
}

std::vector<JournalEntry> ParseUpdateJournal(std::string_view bytes) {
  std::vector<JournalEntry> entries;
  ForEachTrimmedLine(bytes, [&](std::string_view line) {
    if (line.empty() || line.front() == '#') return true;
    std::size_t bar = line.find('|');
    if (bar == std::string_view::npos) return true;
    JournalEntry entry;
    if (!DecodeUtf8(line.substr(0, bar), entry.stagedName) ||
        !DecodeUtf8(line.substr(bar + 1), entry.targetPath)) {
      return true;
    }
    for (wchar_t& c : entry.targetPath) {
      if (c == L'/') c = L'\\';
    }
    if (IsContainedRelativePath(entry.stagedName) && IsContainedRelativePath(entry.targetPath)) {
      entries.push_back(std::move(entry));
    }
    return true;
  });
  return entries;
}
