// The statement parser of the sales database (see statement.h).
#include "statement.h"

#include <cctype>
#include <vector>

#include <lirvo/text.h>

namespace lirvo::access {

namespace {

struct Token {
  std::string text;
  bool bracketed = false;
};

std::optional<std::vector<Token>> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i < text.size()) {
    if (blank(text[i])) {
      ++i;
    } else if (text[i] == '[') {
      const std::size_t close = text.find(']', i + 1);
      if (close == std::string_view::npos) {
        return std::nullopt;
      }
      tokens.push_back({std::string(text.substr(i + 1, close - i - 1)), true});
      i = close + 1;
    } else if (text[i] == ';') {
      tokens.push_back({";", false});
      ++i;
    } else {
      const std::size_t start = i;
      while (i < text.size() && !blank(text[i]) && text[i] != '[' && text[i] != ';') {
        ++i;
      }
      tokens.push_back({std::string(text.substr(start, i - start)), false});
    }
  }
  return tokens;
}

bool IsKeyword(const Token& token, std::string_view keyword) {
  return !token.bracketed && lirvo::text::EqualsNoCase(token.text, keyword);
}

// A plain name: letters, digits and underscores (anything else must be bracketed).
bool IsName(const Token& token) {
  if (token.text.empty()) {
    return false;
  }
  if (token.bracketed) {
    return true;
  }
  for (const char c : token.text) {
    const auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) != 0 || c == '_' || u >= 0x80)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<Statement> ParseStatement(std::string_view text) {
  auto tokens = Tokenize(text);
  if (!tokens) {
    return std::nullopt;
  }
  if (!tokens->empty() && IsKeyword(tokens->back(), ";")) {
    tokens->pop_back();
  }
  const std::vector<Token>& t = *tokens;
  if (t.size() == 5 && IsKeyword(t[0], "select") && IsKeyword(t[1], "distinct") && IsName(t[2]) &&
      IsKeyword(t[3], "from") && IsName(t[4])) {
    return Statement{true, t[2].text, t[4].text};
  }
  if (t.size() == 4 && IsKeyword(t[0], "select") && IsKeyword(t[1], "*") &&
      IsKeyword(t[2], "from") && IsName(t[3])) {
    return Statement{false, "", t[3].text};
  }
  return std::nullopt;
}

}  // namespace lirvo::access
