#include "check/report_format.h"

#include <cstdint>

namespace quillmere {
namespace {

void AppendCodePoint(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | code >> 6));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | code >> 12));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | code >> 18));
    out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::string JsonString(std::wstring_view text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += "0123456789abcdef"[byte >> 4];
      out += "0123456789abcdef"[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void RenderJsonItem(const ReportItem& item, std::string& out) {
  if (item.items.empty() && !item.list) {
    out += item.raw ? Utf8(item.value) : JsonString(item.value);
    return;
  }
  out += item.list ? '[' : '{';
  // A value beside nested items stands first, under its own name.
  if (!item.list && !item.value.empty()) out += "\"value\":" + JsonString(item.value);
  for (std::size_t k = 0; k < item.items.size(); ++k) {
    if (k > 0 || (!item.list && !item.value.empty())) out += ',';
    if (!item.list)
      out += JsonString(std::wstring(item.items[k].key.begin(), item.items[k].key.end())) + ":";
    RenderJsonItem(item.items[k], out);
  }
  out += item.list ? ']' : '}';
}

void RenderTextItem(const ReportItem& item, const std::string& indent, std::string& out) {
  std::string value = Utf8(item.value);
  // A value of several lines goes on under itself, so that every line keeps its place.
  std::string next = "\n" + indent + "  ";
  for (std::size_t at = 0; (at = value.find('\n', at)) != std::string::npos; at += next.size()) {
    value.replace(at, 1, next);
  }
  std::string line = indent + item.key;
  if (!item.key.empty()) line += ":";
  if (!item.key.empty() && !value.empty()) line += " ";
  // An item of a list that holds others has no line of its own.
  bool ownLine = !item.key.empty() || !value.empty();
  if (ownLine) out += line + value + "\n";
  for (const ReportItem& child : item.items) {
    std::string text;
    RenderTextItem(child, ownLine ? indent + "  " : indent, text);
    if (item.list) text.replace(indent.size(), 2, "- ");
    out += text;
  }
}

}  // namespace

ReportItem Value(std::string key, std::wstring value) {
  ReportItem item;
  item.key = std::move(key);
  item.value = std::move(value);
  return item;
}

ReportItem Text(std::string key, std::string_view ascii) {
  return Value(std::move(key), std::wstring(ascii.begin(), ascii.end()));
}

ReportItem Number(std::string key, long long number) {
  std::string digits = std::to_string(number);
  ReportItem item = Text(std::move(key), digits);
  item.raw = true;
  return item;
}

ReportItem Flag(std::string key, bool flag) {
  ReportItem item = Text(std::move(key), flag ? "true" : "false");
  item.raw = true;
  return item;
}

std::string Utf8(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    bool high = code >= 0xD800 && code <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    AppendCodePoint(out, code);
  }
  return out;
}

std::string RenderText(const ReportItem& report) {
  std::string text;
  for (const ReportItem& item : report.items) RenderTextItem(item, "", text);
  // Lines of blanks alone, from empty lines of a message, end where their text ends.
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      while (!out.empty() && out.back() == ' ') out.pop_back();
    }
    out += c;
  }
  return out;
}

std::string RenderJson(const ReportItem& report) {
  std::string out;
  RenderJsonItem(report, out);
  return out + "\n";
}

}  // namespace quillmere
