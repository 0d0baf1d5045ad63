// The dates a row is sent with.
#include <lirvo/books/sales.h>

#include <chrono>

namespace lirvo::books {

bool IsCalendarDate(std::string_view date) {
  if (date.size() != 8 || date.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const auto number = [&date](std::size_t at, std::size_t length) {
    unsigned value = 0;
    for (const char digit : date.substr(at, length)) {
      value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    return value;
  };
  const std::chrono::year_month_day day{std::chrono::year{static_cast<int>(number(0, 4))},
                                        std::chrono::month{number(4, 2)},
                                        std::chrono::day{number(6, 2)}};
  return day.ok();
}

}  // namespace lirvo::books
