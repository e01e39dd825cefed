#include "protocol/integer_text.h"

#include <climits>

#include <gtest/gtest.h>

namespace kavelo::protocol {
namespace {

TEST(IntegerTextTest, ReadsLikeAtoi) {
  struct Case {
    const char* in;
    int value;
  } cases[] = {{"12", 12},
               {"-4", -4},
               {"  -4x", -4},
               {"+7", 7},
               {"+", 0},
               {"abc", 0},
               {"x1", 0},
               {"", 0},
               {"  33x", 33},
               {"\n\t 9", 9},
               {"3;", 3},
               {"-", 0},
               {"2147483647", INT_MAX},
               {"-2147483648", INT_MIN},
               {"99999999999", INT_MAX},
               {"-99999999999", INT_MIN},
               {"1 2", 1}};
  for (const Case& c : cases) EXPECT_EQ(c.value, ReadInteger(c.in)) << "[" << c.in << "]";
  EXPECT_EQ(0, ReadInteger(nullptr));
}

TEST(IntegerTextTest, WithoutSkippingSpaceABlankEndsTheNumber) {
  struct Case {
    const char* in;
    int value;
  } cases[] = {{"-3;", -3}, {"+7", 7}, {"12ab", 12}, {"x12", 0}, {"-99999999999", INT_MIN},
               {" 12", 0},  {"\t5", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, ReadInteger(c.in, LeadingSpace::kEndsTheNumber)) << "[" << c.in << "]";
  }
}

}  // namespace
}  // namespace kavelo::protocol
