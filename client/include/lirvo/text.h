// Small text helpers every library shares: blanks trimmed, and names compared the way the server
// compares them (ASCII letters without regard to case; other characters as they are).
#pragma once

#include <string>
#include <string_view>

namespace lirvo::text {

// Whether `c` is a blank, a tab, CR or LF.
constexpr bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// `text` without leading and trailing blanks, tabs, CR and LF. Inline: it is called on every
// value of every row.
constexpr std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// `c` in lower case when it is an ASCII capital; any other byte unchanged.
constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with its ASCII capitals in lower case: the key under which names that differ only in
// capitals compare equal.
std::string FoldCase(std::string_view text);

// Whether `a` and `b` are equal when ASCII letters are compared without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Negative, zero or positive as `a` sorts before, with or after `b` when ASCII letters are compared
// without regard to case and everything else byte by byte.
int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace lirvo::text
