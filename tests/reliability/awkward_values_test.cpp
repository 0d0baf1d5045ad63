// Amounts at the edges of what a double holds are read as what they are.
#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <utility>

#include <lirvo/books/sales.h>
#include <lirvo/modTally.h>

namespace {

TEST(AwkwardValues, AmountsBeyondADoubleAreToldApartByTheirSize) {
  const std::string zeros(400, '0');
  const double kTooLarge = std::nan("");  // refused as too large
  const std::pair<std::string, double> cases[] = {{"0." + zeros + "1", 0},
                                                  {"-0." + zeros + "1e5", 0},
                                                  {"0.001e-400", 0},
                                                  {"1" + zeros + "e-5", kTooLarge},
                                                  {"-1" + zeros + "e-90", kTooLarge},
                                                  {"1" + zeros + "e-395", 1e5}};
  for (const auto& [text, value] : cases) {
    const std::string shown = text.substr(0, 12) + "... (" + std::to_string(text.size()) + ")";
    if (std::isnan(value)) {
      EXPECT_THROW(lirvo::books::ReadNumber(text), modTally::Failure) << shown;
    } else {
      EXPECT_NEAR(lirvo::books::ReadNumber(text), value, value * 1e-15) << shown;
    }
  }
}

}  // namespace
