#include "tools/page_range.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace kavelo {
namespace {

TEST(PageRangeTest, PagesAreTheBreaksBeforeTheEndOfTheReportPlusOne) {
  // A break cut by the 64 KiB read block must still count.
  const std::string padding(65536 - 3, ' ');
  struct Case {
    const char* name;
    std::string report;
    int32_t pages;
  } cases[] = {
      {"no break", "<report><detail>a</detail></report>", 1},
      {"empty file", "", 1},
      {"both kinds, any case", "<report>a<page/>b<SOFT_PAGE/>c<Page/>d</report>", 4},
      {"not written exactly so", "<report>a<page />b<page></page>c<soft_page>d</report>", 1},
      {"after the end", "<report>a<page/>b</REPORT><page/><page/>", 2},
      {"across a block boundary", "<report>" + padding + "<soft_page/>b</report>", 2},
  };
  char pattern[] = "/tmp/page_range_test.XXXXXX";
  int fd = mkstemp(pattern);
  ASSERT_GE(fd, 0);
  close(fd);
  for (const Case& c : cases) {
    FILE* file = std::fopen(pattern, "wb");
    ASSERT_NE(nullptr, file);
    std::fwrite(c.report.data(), 1, c.report.size(), file);
    std::fclose(file);
    int32_t pages = -1;
    std::string error;
    EXPECT_TRUE(CountReportPages(pattern, &pages, &error)) << c.name << ": " << error;
    EXPECT_EQ(c.pages, pages) << c.name;
  }
  std::remove(pattern);
  int32_t pages = -1;
  std::string error;
  EXPECT_FALSE(CountReportPages("/nonexistent/report.xml", &pages, &error));
  EXPECT_NE(std::string::npos, error.find("cannot read /nonexistent/report.xml")) << error;
}

TEST(PageRangeTest, ARangeIsAddedOnlyWhenNoLastPageIsNamed) {
  struct Case {
    std::string options;
    int32_t pages;
    std::string sent;
  } cases[] = {
      {"", 3, "frompage=1,topage=3"},
      {"printer='Office 2',copies=2", 1, "printer='Office 2',copies=2,frompage=1,topage=1"},
      // A text ending in a comma gets no second one (",," makes no item).
      {"copies=2, ", 5, "copies=2, frompage=1,topage=5"},
      // The user's range stays.
      {"TOPAGE=7", 3, "TOPAGE=7"},
      {"printer=lp, topage = 2", 3, "printer=lp, topage = 2"},
      // A first page given: the range still spans the report.
      {"frompage=4", 3, "frompage=4,topage=6"},
      {"FromPage='2'", 3, "FromPage='2',topage=4"},
      {"frompage=0", 3, "frompage=0,topage=3"},
      // A key inside a quoted value is no key.
      {"printer='a,topage=9'", 2, "printer='a,topage=9',frompage=1,topage=2"},
      {"frompage=2147483000", 1000, "frompage=2147483000,topage=2147483647"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.sent, CompletePageRange(c.options, c.pages)) << c.options;
  }
}

}  // namespace
}  // namespace kavelo
