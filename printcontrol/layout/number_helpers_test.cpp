#include "printcontrol/layout/number_helpers.h"

#include <string>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

TEST(NumberHelpersTest, RoundAndFloorToPlaces) {
  struct Case {
    double x;
    int places;
    double round;
    double floor;
  } cases[] = {
      {1.2351, 3, 1.236, 1.235},  // last digit of 1235 is 5: up
      {1.2349, 3, 1.234, 1.234},  // last digit of 1234 is 4: down
      {0, 3, 0, 0},               // x <= 0: unchanged
      {-1.5, 2, -1.5, -1.5},
      {2.5, 0, 2.5, 2.5},  // places <= 0: unchanged
      {2.5, -1, 2.5, 2.5},
      {0.39, 2, 0.39, 0.39},
      {12.3456, 1, 12.3, 12.3},  // 123: last digit 3, down
      {7.86, 1, 7.9, 7.8},       // 78: last digit 8, up
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(c.round, RoundToPlaces(c.x, c.places), 1e-9) << c.x << " to " << c.places;
    EXPECT_NEAR(c.floor, FloorToPlaces(c.x, c.places), 1e-9) << c.x << " to " << c.places;
  }
  EXPECT_NEAR(0.3937, MillimetresToInches(10), 1e-12);
}

TEST(NumberHelpersTest, TrimTrailingZeros) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"1.500000", "1.5"}, {"2.000000", "2.0"}, {"10", "10"}, {"100", "100"},
               {"0.050", "0.05"},   {"1.", "1."},        {"", ""},     {"3.0", "3.0"},
               {"12.340", "12.34"}, {".000", ".0"}};
  for (const Case& c : cases) {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%s", c.in);
    TrimTrailingZeros(buffer);
    EXPECT_STREQ(c.out, buffer) << c.in;
  }
  TrimTrailingZeros(nullptr);
}

}  // namespace
}  // namespace kavelo::printcontrol
