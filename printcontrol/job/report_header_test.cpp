#include "printcontrol/job/report_header.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

struct Header {
  char title[512] = "";
  int32_t styleFlag = -1;
  int32_t width = 0;
  int32_t realLength = 0;
  int32_t realWidth = 0;
};

class ReportHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/report_header_test.XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = pattern;
  }
  void TearDown() override { std::remove(path_.c_str()); }

  Header Read(const std::string& content) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    EXPECT_NE(nullptr, f);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    Header h;
    ReadReportHeaderFile(path_.c_str(), Fields(&h));
    return h;
  }

  static ReportHeaderFields Fields(Header* h) {
    ReportHeaderFields fields;
    fields.title = h->title;
    fields.titleSize = sizeof(h->title);
    fields.styleFlag = &h->styleFlag;
    fields.width = &h->width;
    fields.realLength = &h->realLength;
    fields.realWidth = &h->realWidth;
    return fields;
  }

  std::string path_;
};

std::string Wrap(const std::string& lines) {
  return "<?xml version=\"1.0\"?>\n<report>\n<report_info>\n" + lines +
         "</report_info>\n<detail/>\n</report>\n";
}

TEST_F(ReportHeaderTest, ReadsEachElement) {
  Header h =
      Read(Wrap("  <title>Sales &amp; Costs</title>\n"
                "  <style_sheet_type>full</style_sheet_type>\n"
                "  <width>132</width>\n"
                "  <real_length>66</real_length>\n"
                "  <real_width>-80</real_width>\r\n"));
  EXPECT_STREQ("Sales & Costs", h.title);
  EXPECT_EQ(0, h.styleFlag);
  EXPECT_EQ(132, h.width);
  EXPECT_EQ(66, h.realLength);
  EXPECT_EQ(-80, h.realWidth);
}

TEST_F(ReportHeaderTest, StyleSheetTypeAndNumbers) {
  struct Case {
    const char* lines;
    int32_t styleFlag;
    int32_t width;
  } cases[] = {
      {"<style_sheet_type>full</style_sheet_type>\n", 0, 0},
      {"<style_sheet_type>FULL</style_sheet_type>\n", 1, 0},
      {"<style_sheet_type>part</style_sheet_type>\n", 1, 0},
      {"<style_sheet_type> full</style_sheet_type>\n", 1, 0},
      {"<style_sheet_type></style_sheet_type>\n", -1, 0},  // empty: unchanged
      {"<style_sheet_type/>\n", -1, 0},
      {"<width>abc</width>\n", -1, 0},
      {"<width>  42</width>\n", -1, 42},
      {"<width>7</width>\n<width>9</width>\n", -1, 9},  // a later one replaces
      {"</width><width>5\n", -1, 0},                    // end tag before start tag
  };
  for (const Case& c : cases) {
    Header h = Read(Wrap(c.lines));
    EXPECT_EQ(c.styleFlag, h.styleFlag) << c.lines;
    EXPECT_EQ(c.width, h.width) << c.lines;
  }
}

TEST_F(ReportHeaderTest, OnlyLinesInsideTheHeaderAndOnlyTheFirstElementOfALine) {
  struct Case {
    const char* content;
    const char* title;
    int32_t width;
  } cases[] = {
      // A title and a width on one line: the title only.
      {"<report_info>\n<title>T</title><width>12</width>\n</report_info>\n", "T", 0},
      // The width first on the line still loses to the title.
      {"<report_info>\n<width>12</width><title>T</title>\n</report_info>\n", "T", 0},
      // On the line of <report_info> nothing is read.
      {"<report_info><title>T</title>\n<width>3</width>\n</report_info>\n", "", 3},
      // After </report_info> nothing is read, nor on its own line.
      {"<report_info>\n<width>3</width></report_info>\n<title>T</title>\n", "", 0},
      {"<report_info>\n</report_info>\n<title>T</title>\n<width>3</width>\n", "", 0},
      // Before the header nothing is read.
      {"<title>T</title>\n<report_info>\n</report_info>\n", "", 0},
      // Without a header nothing at all.
      {"<report>\n<title>T</title>\n<width>3</width>\n</report>\n", "", 0},
      // An empty title takes nothing.
      {"<report_info>\n<title></title>\n</report_info>\n", "", 0},
  };
  for (const Case& c : cases) {
    Header h = Read(c.content);
    EXPECT_STREQ(c.title, h.title) << c.content;
    EXPECT_EQ(c.width, h.width) << c.content;
    EXPECT_EQ(-1, h.styleFlag) << c.content;
  }
}

TEST_F(ReportHeaderTest, TitlesAreDecodedAndCut) {
  // References outside the table stay as they are.
  Header h = Read(Wrap("<title>R&D; &EACUTE; Caf&eacute;</title>\n"));
  EXPECT_STREQ("R&D; &EACUTE; Caf\xe9", h.title);
  // A title line longer than 1023 characters comes in pieces: its end tag is
  // not on the first piece, so nothing is taken from it.
  h = Read(Wrap("<title>" + std::string(1100, 'x') + "</title>\n"));
  EXPECT_STREQ("", h.title);
  // A long title that fits one line is cut to 511 characters.
  h = Read(Wrap("<title>" + std::string(900, 'y') + "</title>\n"));
  EXPECT_EQ(std::string(511, 'y'), h.title);
}

TEST_F(ReportHeaderTest, MissingFileChangesNothing) {
  Header h;
  std::snprintf(h.title, sizeof(h.title), "keep");
  h.width = 7;
  ReadReportHeaderFile("/nonexistent/report.xml", Fields(&h));
  ReadReportHeaderFile("", Fields(&h));
  EXPECT_STREQ("keep", h.title);
  EXPECT_EQ(7, h.width);
}

}  // namespace
}  // namespace kavelo::printcontrol
