#include "printcontrol/job/text_field.h"

#include <cstring>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

TEST(TextFieldTest, CopyTextCutsAndAlwaysTerminates) {
  char field[8];
  std::memset(field, '#', sizeof(field));
  char guard[4] = "ok";
  EXPECT_FALSE(CopyText(field, sizeof(field), "0123456789"));
  EXPECT_STREQ("0123456", field);
  EXPECT_STREQ("ok", guard);
  EXPECT_TRUE(CopyText(field, sizeof(field), "0123456"));
  EXPECT_STREQ("0123456", field);
  EXPECT_TRUE(CopyText(field, sizeof(field), nullptr));
  EXPECT_STREQ("", field);
  EXPECT_TRUE(CopyText(field, sizeof(field), "abcdef", 3));
  EXPECT_STREQ("abc", field);
  EXPECT_TRUE(CopyText(field, 1, "abc") == false);
  EXPECT_STREQ("", field);
}

}  // namespace
}  // namespace kavelo::printcontrol
