#include "printcontrol/printing/file_utils.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "printcontrol/printing/stop_process.h"

namespace kavelo::printcontrol {
namespace {

TEST(FileUtilsTest, ReportNameIsTheLocalTimeInSixDigits) {
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

TEST(FileUtilsTest, ReportNameFallbackIsANumberThatChanges) {
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

TEST(FileUtilsTest, InfoName) {
  struct Case {
    const char* html;
    const char* info;
  } cases[] = {{"page3.html", "page3.info"},
               {"/spool/093015.html", "/spool/093015.info"},
               {"x.htm", "x.htminfo"},
               {".html", ".htmlinfo"},  // shorter than six characters
               {"a.html", "a.info"},
               {"a.HTML", "a.HTMLinfo"},  // the ending is matched in small letters only
               {"", "info"},
               {"page.html.bak", "page.html.bakinfo"}};
  for (const Case& c : cases) {
    char out[512];
    MakeInfoName(c.html, out, sizeof(out));
    EXPECT_STREQ(c.info, out) << c.html;
  }
  char small[6];
  MakeInfoName("abcdefgh.html", small, sizeof(small));
  EXPECT_EQ(5u, std::strlen(small));
}

TEST(FileUtilsTest, StopProcessKillsReapsAndEmptiesTheRecord) {
  platform::Process process;
  ASSERT_EQ(0, process.Start(std::vector<std::string>{"/bin/sleep", "30"}, true));
  int pid = process.pid();
  auto start = std::chrono::steady_clock::now();
  StopProcess(&process);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(process.IsValid());
  // Reaped: the process id no longer names a process (not even a zombie).
  EXPECT_EQ(-1, kill(pid, 0));
  EXPECT_EQ(ESRCH, errno);
  StopProcess(&process);  // an empty record: nothing
  StopProcess(nullptr);
}

}  // namespace
}  // namespace kavelo::printcontrol
