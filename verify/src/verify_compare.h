// What the comparison of one voucher (CompareVoucher in lirvo/verify.h) shares with the rest of
// the verification.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lirvo::verify {

// Names compare as the server compares them: ASCII letters without regard to case, blanks at the
// ends ignored.
bool SameName(std::string_view a, std::string_view b);

// A source value trimmed; "" when the column is empty.
std::string Plain(const std::optional<std::string>& value);

}  // namespace lirvo::verify
