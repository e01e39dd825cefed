#include "printcontrol/job/report_name.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

TEST(ReportNameTest, ReportNameIsTheLocalTimeInSixDigits) {
  struct Case {
    int hour, minute, second;
    const char* name;
  } cases[] = {
      {9, 30, 15, "093015"}, {0, 0, 0, "000000"}, {23, 59, 59, "235959"}, {10, 5, 9, "100509"}};
  for (const Case& c : cases) {
    std::tm t{};
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    char name[512];
    FormatReportName(&t, name, sizeof(name));
    EXPECT_STREQ(c.name, name);
  }
  char now[512];
  MakeReportName(now, sizeof(now));
  ASSERT_EQ(6u, std::strlen(now));
  for (char ch : std::string(now)) EXPECT_TRUE(ch >= '0' && ch <= '9') << now;
}

TEST(ReportNameTest, ReportNameFallbackIsANumberThatChanges) {
  char first[512];
  char second[512];
  FormatReportName(nullptr, first, sizeof(first));
  FormatReportName(nullptr, second, sizeof(second));
  for (const char* name : {first, second}) {
    ASSERT_GT(std::strlen(name), 0u);
    for (const char* p = name; *p; ++p) EXPECT_TRUE(*p >= '0' && *p <= '9') << name;
  }
  // An hour outside 0..99 does not fit six digits: the fallback is used.
  std::tm odd{};
  odd.tm_hour = 123;
  char third[512];
  FormatReportName(&odd, third, sizeof(third));
  EXPECT_NE(std::string("1230000"), third);
  char small[4];
  FormatReportName(nullptr, small, sizeof(small));
  EXPECT_LT(std::strlen(small), sizeof(small));
}

}  // namespace
}  // namespace kavelo::printcontrol
