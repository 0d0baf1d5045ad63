// Values read from import requests: the action of an item, amounts, dates, and the leaves below a
// master element as they are kept in the store. A value that cannot be used raises a Rejection,
// whose message becomes the item's LINEERROR.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "store.h"

namespace lirvo::standin {

// An item of an import that is refused; the message is its LINEERROR.
class Rejection : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An item the server takes without a LINEERROR but counts in EXCEPTIONS, as it does a voucher of
// the wrong shape (the message is for the stand-in's own overview of what happened, not sent).
class ShapeException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `text` in single quotes, as the accounting server quotes names in its messages.
std::string Quoted(std::string_view text);

// The ACTION attribute of `element`, trimmed; "Create" when absent or empty, as the accounting
// server takes it.
std::string ActionOf(const pugi::xml_node& element);

// An amount as the accounting server writes it: a decimal number, blanks around it allowed; an
// empty amount is zero. Nothing for anything else.
std::optional<double> ParseAmount(std::string_view text);

// Whether `text` is a date of the form YYYYMMDD naming a real day.
bool IsDate(std::string_view text);

// `value` with two decimals, for messages.
std::string FormatAmount(double value);

// The leaves below `master` as (path, text), in document order, skipping empty ones. Walks the
// tree without recursion; nesting deeper than kMaxValueDepth is a Rejection naming `label`.
ElementValues CollectValues(const pugi::xml_node& master, const std::string& label);

// `sent` replaces the stored values of the same paths; the others are kept.
ElementValues MergeValues(const ElementValues& stored, const ElementValues& sent);

}  // namespace lirvo::standin
