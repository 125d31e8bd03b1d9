// The check's report as a tree of named values, and its two forms: text for a person,
// JSON for a release pipeline.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

struct ReportItem {
  std::string key;
  std::wstring value;
  bool raw = false;               // in JSON a number or true/false as it stands, else a string
  bool list = false;              // `items` form a JSON array, their keys unused
  std::vector<ReportItem> items;  // nested: an object (or a list)
};

// One item with a value, with a value given in UTF-8 or ASCII, and one that holds others.
ReportItem Value(std::string key, std::wstring value);
ReportItem Text(std::string key, std::string_view ascii);
ReportItem Number(std::string key, long long number);
ReportItem Flag(std::string key, bool flag);

// UTF-8 of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string Utf8(std::wstring_view text);

// "key: value" a line, nested items indented by two blanks, list items after "- ".
std::string RenderText(const ReportItem& report);

// The report as one JSON object, on one line.
std::string RenderJson(const ReportItem& report);

}  // namespace quillmere
