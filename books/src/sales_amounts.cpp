// The sales voucher's numbers: the number a source text starts with, and an amount written as the
// voucher carries it.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string_view>

#include <lirvo/books/sales.h>

#include "internal.h"

namespace lirvo::books {

namespace {

using detail::AppendAmount;
using modTally::Failure;
namespace FailureNumber = modTally::FailureNumber;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Writes the value when it is n / 10^k for an n of at most 15 digits and k of at most 6, as
// amounts nearly always are: when the double nearest that decimal is the value, the decimal is also
// the value rounded to 15 significant digits (decimals of 15 digits lie further apart than a
// double's error), so it is written from n, without to_chars' general rounding, which costs ten
// times as much. False, writing nothing, otherwise.
bool AppendShortDecimal(std::string& out, double value) {
  constexpr double kPowers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
  const double magnitude = std::fabs(value);
  for (std::size_t decimals = 0; decimals < std::size(kPowers); ++decimals) {
    const double product = magnitude * kPowers[decimals];
    if (product >= 1e15) {
      return false;
    }
    // The nearest whole number (exact below 2^52), and a double as exactly; so is the power, and
    // the division gives the double nearest the decimal.
    const auto n = static_cast<std::uint64_t>(product + 0.5);
    if (n == 0 || static_cast<double>(n) / kPowers[decimals] != magnitude) {
      continue;
    }
    // n's digits, with zeros before them so that one at least comes before the point.
    char buffer[32];
    char* const end = std::to_chars(buffer + 8, buffer + sizeof buffer, n).ptr;
    char* begin = buffer + 8;
    while (static_cast<std::size_t>(end - begin) <= decimals) {
      *--begin = '0';
    }
    // n ends in a zero only when decimals is 0: else the decimals before gave the value back.
    const char* const point = end - decimals;
    if (value < 0) {
      out += '-';
    }
    out.append(begin, static_cast<std::size_t>(point - begin));
    if (decimals > 0) {
      out += '.';
      out.append(point, decimals);
    }
    return true;
  }
  return false;
}

}  // namespace

void detail::AppendAmount(std::string& out, double value) {
  if (!std::isfinite(value)) {
    throw Failure(FailureNumber::kValue, "an amount is too large to be written");
  }
  if (value == 0) {
    out += '0';
    return;
  }
  if (AppendShortDecimal(out, value)) {
    return;
  }
  // d.dddddddddddddde±x: the value rounded to 15 significant digits.
  char buffer[64];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                     std::chars_format::scientific, 14);
  const std::string_view scientific(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const std::size_t e = scientific.find('e');
  char digits_buffer[16];
  std::size_t count = 0;
  digits_buffer[count++] = scientific[0];
  for (std::size_t i = 2; i < e && count < sizeof digits_buffer; ++i) {
    digits_buffer[count++] = scientific[i];
  }
  while (count > 1 && digits_buffer[count - 1] == '0') {
    --count;
  }
  const std::string_view digits(digits_buffer, count);
  int exponent = 0;
  const std::string_view exponent_text = scientific.substr(e + 1);
  std::from_chars(exponent_text.data() + (exponent_text[0] == '+' ? 1 : 0),
                  exponent_text.data() + exponent_text.size(), exponent);
  if (value < 0) {
    out += '-';
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else if (digits.size() <= static_cast<std::size_t>(exponent) + 1) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
    out += '.';
    out += digits.substr(static_cast<std::size_t>(exponent) + 1);
  }
}

// Long: one scan of the text: blanks, sign, digits, point, exponent, clearer whole.
double ReadNumber(std::string_view text) {
  // The text without its blanks, tabs and line feeds; a copy only when it holds any.
  std::string without_blanks;
  std::string_view compact = text;
  if (text.find_first_of(" \t\n") != std::string_view::npos) {
    without_blanks.reserve(text.size());
    for (const char c : text) {
      if (c != ' ' && c != '\t' && c != '\n') {
        without_blanks += c;
      }
    }
    compact = without_blanks;
  }
  const std::size_t size = compact.size();
  std::size_t end = 0;
  const bool negative = end < size && compact[end] == '-';
  if (end < size && (compact[end] == '+' || compact[end] == '-')) {
    ++end;
  }
  const std::size_t mantissa = end;
  int digits = 0;
  for (; end < size && IsDigit(compact[end]); ++end) {
    ++digits;
  }
  if (end < size && compact[end] == '.') {
    ++end;
    for (; end < size && IsDigit(compact[end]); ++end) {
      ++digits;
    }
  }
  if (digits == 0) {
    return 0;
  }
  const std::size_t mantissa_end = end;
  long long exponent_value = 0;  // saturated: only its sign and rough size matter
  if (end < size && (compact[end] == 'e' || compact[end] == 'E')) {
    std::size_t exponent = end + 1;
    const bool negative_exponent = exponent < size && compact[exponent] == '-';
    if (exponent < size && (compact[exponent] == '+' || compact[exponent] == '-')) {
      ++exponent;
    }
    std::size_t exponent_end = exponent;
    for (; exponent_end < size && IsDigit(compact[exponent_end]); ++exponent_end) {
      exponent_value =
          std::min(exponent_value * 10 + (compact[exponent_end] - '0'), 1'000'000'000LL);
    }
    if (exponent_end > exponent) {
      end = exponent_end;  // an exponent without digits is not part of the number
      exponent_value = negative_exponent ? -exponent_value : exponent_value;
    } else {
      exponent_value = 0;
    }
  }
  double value = 0;
  const char* const first = compact.data() + mantissa;
  const auto result = std::from_chars(first, compact.data() + end, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Out of range either way: the power of ten of the first significant digit tells which.
    const std::string_view digits_text(first, mantissa_end - mantissa);
    const std::size_t point = std::min(digits_text.find('.'), digits_text.size());
    const std::size_t leading = digits_text.find_first_not_of("0.");
    const long long power = leading < point ? static_cast<long long>(point - leading) - 1
                                            : -static_cast<long long>(leading - point);
    if (power + exponent_value < 0) {
      return 0;  // too small to tell from 0
    }
    throw Failure(FailureNumber::kValue,
                  "the number \"" + std::string(text) + "\" is too large to be an amount");
  }
  return negative ? -value : value;
}

std::string FormatAmount(double value) {
  std::string text;
  AppendAmount(text, value);
  return text;
}

}  // namespace lirvo::books
