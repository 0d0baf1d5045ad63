// The two statement shapes the sales database runs: "Select DISTINCT <column> from <table>" and
// "Select * from <table>", keywords and names case-insensitive, names optionally in [brackets]
// (then holding any character but "]"), an optional ";" at the end.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lirvo::access {

struct Statement {
  bool distinct = false;
  std::string column;  // DISTINCT only
  std::string table;
};

// The statement `text` stands for; no value when it is neither shape.
std::optional<Statement> ParseStatement(std::string_view text);

}  // namespace lirvo::access
