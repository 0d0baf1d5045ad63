// Exact decimal numbers for amounts, quantities and rates.
#include <algorithm>
#include <charconv>
#include <cmath>

#include <lirvo/text.h>

#include "internal.h"

namespace lirvo::books::detail {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads [sign] digits [. digits] from the start of `text`; `end` is where the number stops.
std::optional<Decimal> ReadNumber(std::string_view text, std::size_t& end) {
  std::size_t i = 0;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    ++i;
  }
  std::int64_t micros = 0;
  bool digits = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    digits = true;
    if (micros > (kMaxMicros - 9'000'000) / 10) {
      return std::nullopt;
    }
    micros = micros * 10 + (text[i] - '0') * 1'000'000;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    std::int64_t place = 100'000;
    bool round_up = false;
    for (bool first_dropped = true; i < text.size() && IsDigit(text[i]); ++i) {
      digits = true;
      if (place > 0) {
        micros += (text[i] - '0') * place;
        place /= 10;
      } else if (first_dropped) {
        round_up = text[i] >= '5';
        first_dropped = false;
      }
    }
    micros += round_up ? 1 : 0;
  }
  if (!digits || micros > kMaxMicros) {
    return std::nullopt;
  }
  end = i;
  return Decimal{negative ? -micros : micros};
}

}  // namespace

std::optional<Decimal> ParseDecimal(std::string_view text) {
  text = text::Trim(text);
  std::size_t end = 0;
  const std::optional<Decimal> value = ReadNumber(text, end);
  return value && end == text.size() ? value : std::nullopt;
}

std::errc ReadDouble(std::string_view text, double& value) {
  text = text::Trim(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end != text.data() + text.size() ? std::errc::invalid_argument
                                                                  : error;
}

bool TooLarge(std::string_view text) {
  double value = 0;
  const std::errc error = ReadDouble(text, value);
  return error == std::errc::result_out_of_range ||
         (error == std::errc() && std::isfinite(value) &&
          std::fabs(value) * 1e6 > static_cast<double>(kMaxMicros));
}

std::optional<Decimal> LeadingDecimal(std::string_view text, std::string_view* rest) {
  text = text::Trim(text);
  std::size_t end = 0;
  const std::optional<Decimal> value = ReadNumber(text, end);
  if (rest) {
    *rest = text::Trim(text.substr(value ? end : 0));
  }
  return value;
}

char* WriteDecimal(char* at, Decimal value) {
  std::int64_t micros = value.micros;
  char* end = at;
  if (micros < 0) {
    *end++ = '-';
    micros = -micros;
  }
  end = std::to_chars(end, at + kDecimalChars, micros / 1'000'000).ptr;
  std::int64_t fraction = micros % 1'000'000;
  if (fraction != 0) {
    char digits[7] = "000000";
    for (int i = 5; i >= 0; --i, fraction /= 10) {
      digits[i] = static_cast<char>('0' + fraction % 10);
    }
    std::size_t length = 6;
    while (digits[length - 1] == '0') {
      --length;
    }
    *end++ = '.';
    end = std::copy(digits, digits + length, end);
  }
  return end;
}

std::string DecimalText(Decimal value) {
  char text[kDecimalChars];
  return std::string(text, WriteDecimal(text, value));
}

}  // namespace lirvo::books::detail
