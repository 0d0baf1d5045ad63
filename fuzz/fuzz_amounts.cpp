// Any text as an Amount or TaxPer: the number reader agrees with the C library's reading of the
// same leading number, ignores blanks, tabs and line feeds wherever they are, and refuses only
// numbers too large for a double. Any number read is written back as an amount that reads back
// to it within 15 significant digits, without exponent, trailing zeros or "-0".
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <lirvo/books/sales.h>
#include <lirvo/modTally.h>

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The reading the C library gives of the characters a decimal number may hold, taken from the
// text without blanks, tabs and line feeds. The fuzz binary runs in the "C" locale.
struct Reference {
  double value = 0;
  bool overflow = false;
  bool underflow = false;
};

Reference ReadWithStrtod(std::string_view text) {
  std::string compact;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') {
      continue;
    }
    if (!(IsDigit(c) || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E')) {
      break;  // strtod would also read hexadecimal, "inf" and "nan"; a plain decimal stops here
    }
    compact += c;
  }
  errno = 0;
  Reference reference;
  reference.value = std::strtod(compact.c_str(), nullptr);
  if (errno == ERANGE) {
    reference.overflow = std::fabs(reference.value) > 1;
    reference.underflow = !reference.overflow;
  }
  return reference;
}

// What an amount must look like: an optional "-", digits, and a fraction without trailing zeros.
bool IsAmountText(std::string_view text) {
  if (text == "0") {
    return true;
  }
  std::size_t i = text.starts_with('-') ? 1 : 0;
  const std::size_t digits = i;
  while (i < text.size() && IsDigit(text[i])) {
    ++i;
  }
  if (i == digits || (text[digits] == '0' && i - digits > 1)) {
    return false;
  }
  if (i < text.size()) {
    if (text[i] != '.' || i + 1 == text.size() || text.back() == '0') {
      return false;
    }
    for (++i; i < text.size(); ++i) {
      if (!IsDigit(text[i])) {
        return false;
      }
    }
  }
  return text != "-0";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Reference reference = ReadWithStrtod(text);

  double value = 0;
  try {
    value = lirvo::books::ReadNumber(text);
  } catch (const modTally::Failure& failure) {
    Require(failure.number() == modTally::FailureNumber::kValue && reference.overflow);
    return 0;
  }
  Require(!reference.overflow && std::isfinite(value));
  if (reference.underflow) {
    Require(value == 0 || value == reference.value);
  } else {
    Require(value == reference.value);
  }

  // Blanks, tabs and line feeds are ignored anywhere, and nothing after the number counts.
  std::string spaced;
  for (const char c : text) {
    spaced += c;
    spaced += (c % 3 == 0) ? " " : (c % 3 == 1) ? "\t" : "\n";
  }
  Require(lirvo::books::ReadNumber(spaced) == value);
  Require(lirvo::books::ReadNumber(std::string(text) + "%") == value);

  const std::string amount = lirvo::books::FormatAmount(value);
  Require(IsAmountText(amount));
  Require((amount[0] == '-') == (value < 0 && amount != "0"));
  const double back = lirvo::books::ReadNumber(amount);
  Require(std::fabs(back - value) <= std::fabs(value) * 1e-14 + DBL_TRUE_MIN);
  return 0;
}
