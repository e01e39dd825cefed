#include "protocol/orlendi_command_line.h"

#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/orlendi_info_file.h"

namespace kavelo::protocol {
namespace {

PrintRequest ParseArgs(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return ParsePrintRequest(JoinKeyArguments(static_cast<int>(argv.size()), argv.data()));
}

TEST(CommandLineTest, ReadsTheKeysAsThePrintControlPassesThem) {
  // The print control's line after the system split it at its blanks.
  PrintRequest r = ParseArgs(
      {"orlendi", "/opt/kavelo/Print Service/orlendi", "/opt/kavelo/Print Service/orlendi",
       "html=/spool/093015.html;xsl=/spool/a.xsl;printerName=Office", "Laser;", "2nd", "",
       "floor;copy=3;orien=2;eventsource=ostrevo;unit=1;left=0.5;right=0.25;top=10.0;"
       "bottom=1;colprint=1;lock=1;"});
  EXPECT_EQ("/spool/093015.html", r.htmlPath);
  EXPECT_EQ("/spool/a.xsl", r.xslPath);
  EXPECT_EQ("Office Laser; 2nd floor", r.printerName);
  EXPECT_EQ(3, r.copies);
  EXPECT_EQ(2, r.orientation);
  EXPECT_EQ("ostrevo", r.eventSource);
  EXPECT_EQ(1, r.unit);
  EXPECT_EQ("0.5", r.marginLeft);
  EXPECT_EQ("0.25", r.marginRight);
  EXPECT_EQ("10.0", r.marginTop);
  EXPECT_EQ("1", r.marginBottom);
  EXPECT_TRUE(r.color);
  EXPECT_TRUE(r.lock);
}

TEST(CommandLineTest, PrinterNamesNeverShadowTheKeysBehindThem) {
  struct Case {
    std::string printer;
  } cases[] = {
      {"a;lock=1;unit=1;copyroom;colprint=1"},
      {"\"quoted\" \\\\server\\queue"},
      {std::string(600, 'p') + "\"\\;"},
      {"left=99;right=99"},
  };
  for (const Case& c : cases) {
    PrintRequest r = ParsePrintRequest("html=/s/a.html;xsl=/s/a.xsl;printerName=" + c.printer +
                                       ";copy=2;orien=1;eventsource=ostrevo;unit=0;left=5;"
                                       "right=6;top=7;bottom=8;colprint=0;lock=0;");
    EXPECT_EQ(c.printer, r.printerName);
    EXPECT_EQ(2, r.copies);
    EXPECT_EQ(0, r.unit);
    EXPECT_FALSE(r.lock);
    EXPECT_FALSE(r.color);
    EXPECT_EQ("5", r.marginLeft);
    EXPECT_EQ("6", r.marginRight);
  }
}

TEST(CommandLineTest, NumbersAndMissingKeys) {
  struct Case {
    const char* text;
    int copies;
    int orientation;
    int unit;
  } cases[] = {
      {"html=a;printerName=P;copy=0;orien=0;unit=7", 1, 1, 0},
      {"html=a;printerName=P;copy=-4;orien=3", 1, 1, 0},
      {"html=a;printerName=P;copy=abc;orien=2x;unit=1mm", 1, 2, 1},
      {"html=a;printerName=P;copy=99999999999;", INT_MAX, 1, 0},
      {"html=a;printerName=P", 1, 1, 0},
      {"", 1, 1, 0},
  };
  for (const Case& c : cases) {
    PrintRequest r = ParsePrintRequest(c.text);
    EXPECT_EQ(c.copies, r.copies) << c.text;
    EXPECT_EQ(c.orientation, r.orientation) << c.text;
    EXPECT_EQ(c.unit, r.unit) << c.text;
  }
  EXPECT_EQ(1, ParsePrintRequest("copy= 2").copies);  // a blank ends the number
  EXPECT_EQ("", KeyValue("html=a", "xsl"));
  EXPECT_EQ("", KeyValue("Html=a", "html"));  // names keep their case
}

TEST(CommandLineTest, JoinSkipsTheProgramPaths) {
  const char* argv[] = {"orlendi", "/opt/orlendi", "/opt/orlendi", "html=/a b.html;copy=1"};
  EXPECT_EQ("html=/a b.html;copy=1", JoinKeyArguments(4, argv));
  const char* bare[] = {"orlendi", "printerName=P", "", "x;copy=2"};
  EXPECT_EQ("printerName=P x;copy=2", JoinKeyArguments(4, bare));
  const char* none[] = {"orlendi", "/opt/orlendi"};
  EXPECT_EQ("", JoinKeyArguments(2, none));
}

TEST(CommandLineTest, WhatThePrintControlFormatsOrlendiReadsBack) {
  // Without a PDF path (render and spool) and with one (render only).
  for (const char* pdf : {"", "/spool/a b.work/r0.pdf"}) {
    SCOPED_TRACE(pdf);
    OrlendiArguments sent;
    sent.pdfPath = pdf;
    sent.htmlPath = "/spool/a b.html";
    sent.xslPath = "/spool/a.xsl";
    sent.printerName = "Office Laser; 2nd;copyroom";
    sent.copies = 3;
    sent.orientation = 2;
    sent.eventSource = "ostrevo";
    sent.unit = 1;
    sent.marginLeft = "0.5";
    sent.marginRight = "0.25";
    sent.marginTop = "10.0";
    sent.marginBottom = "1";
    sent.color = 1;
    sent.lock = 1;
    const std::string line = FormatOrlendiCommandLine("/opt/k/orlendi", sent);
    ASSERT_EQ(0u, line.find("\"/opt/k/orlendi\" \"/opt/k/orlendi\" html=")) << line;
    // orlendi sees the line split at its blanks, the program path first.
    std::vector<std::string> args = {"/opt/k/orlendi", "\"/opt/k/orlendi\"", "\"/opt/k/orlendi\""};
    std::string keys = FormatOrlendiKeys(sent);
    for (size_t start = 0, blank;; start = blank + 1) {
      blank = keys.find(' ', start);
      args.push_back(keys.substr(start, blank == std::string::npos ? blank : blank - start));
      if (blank == std::string::npos) break;
    }
    PrintRequest read = ParseArgs(args);
    EXPECT_EQ(sent.htmlPath, read.htmlPath);
    EXPECT_EQ(sent.xslPath, read.xslPath);
    EXPECT_EQ(sent.printerName, read.printerName);
    EXPECT_EQ(sent.copies, read.copies);
    EXPECT_EQ(sent.orientation, read.orientation);
    EXPECT_EQ(sent.eventSource, read.eventSource);
    EXPECT_EQ(sent.unit, read.unit);
    EXPECT_EQ(sent.marginLeft, read.marginLeft);
    EXPECT_EQ(sent.marginRight, read.marginRight);
    EXPECT_EQ(sent.marginTop, read.marginTop);
    EXPECT_EQ(sent.marginBottom, read.marginBottom);
    EXPECT_TRUE(read.color);
    EXPECT_TRUE(read.lock);
    EXPECT_EQ(sent.pdfPath, read.pdfPath);
  }
}

TEST(InfoFileTest, HtmlEndingBecomesInfo) {
  struct Case {
    const char* html;
    const char* info;
  } cases[] = {
      {"/spool/page3.html", "/spool/page3.info"},
      {"x.html", "x.info"},
      {".html", ".htmlinfo"},  // shorter than six characters
      {"/spool/x.htm", "/spool/x.htminfo"},
      {"/spool/X.HTML", "/spool/X.HTMLinfo"},  // the ending is lower case only
      {"", "info"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.info, InfoFileName(c.html)) << c.html;
}

}  // namespace
}  // namespace kavelo::protocol
