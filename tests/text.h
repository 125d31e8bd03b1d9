// How the test data write bytes: the escapes \n \r \t \0 \\ \xHH, \s for a blank,
// and \{N} for the byte before it standing N times in all.
#pragma once

#include <string>

inline std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i] == '\\' && i + 1 < text.size() ? text[++i] : '\\';
    if (c == 'x') out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)), i += 2;
    else if (c == '{') out.append(std::stoul(text.substr(i + 1)) - 1, out.back()), i = text.find('}', i);
    else out += c == '\\' ? text[i] : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == 's' ? ' ' : c == '0' ? '\0' : c;
  }
  return out;
}
