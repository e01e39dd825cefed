#include "printcontrol/job/ascii_text.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

TEST(AsciiTextTest, LowerAsciiChangesOnlyCapitals) {
  struct Case {
    const char* in;
    const char* out;
    bool changed;
  } cases[] = {{"ABC", "abc", true},
               {"abc", "abc", false},
               {"", "", false},
               {"A1-Z@[", "a1-z@[", true},
               {"\xc9t\xe9", "\xc9t\xe9", false}};
  for (const Case& c : cases) {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%s", c.in);
    EXPECT_EQ(c.changed, LowerAscii(buffer)) << c.in;
    EXPECT_STREQ(c.out, buffer) << c.in;
  }
  EXPECT_FALSE(LowerAscii(nullptr));
}

TEST(AsciiTextTest, TrimLeadingBlanks) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"  ab c ", "ab c "}, {"ab", "ab"}, {"   ", "   "}, {"", ""},
               {"\tx", "\tx"},       {" x", "x"}};
  for (const Case& c : cases) {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%s", c.in);
    TrimLeadingBlanks(buffer);
    EXPECT_STREQ(c.out, buffer) << "[" << c.in << "]";
  }
  std::string longText = std::string(3000, ' ') + std::string(1095, 'x');
  TrimLeadingBlanks(&longText[0]);
  EXPECT_EQ(std::string(1095, 'x'), longText.c_str());
}

TEST(AsciiTextTest, CaseInsensitiveCompareAndFind) {
  EXPECT_TRUE(EqualsIgnoreCase("/REGSERVER", "/regserver"));
  EXPECT_TRUE(EqualsIgnoreCase("/RegServer", "/regserver"));
  EXPECT_FALSE(EqualsIgnoreCase("/regserverx", "/regserver"));
  EXPECT_FALSE(EqualsIgnoreCase("/regserve", "/regserver"));
  EXPECT_FALSE(EqualsIgnoreCase(nullptr, ""));
  const char* text = "/opt/kavelo/OSTREVO /x";
  EXPECT_EQ(text + 12, FindIgnoreCase(text, "Ostrevo"));
  EXPECT_EQ(nullptr, FindIgnoreCase(text, "orlendi"));
}

}  // namespace
}  // namespace kavelo::printcontrol
