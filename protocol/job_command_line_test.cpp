#include "protocol/job_command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/arguments.h"

namespace kavelo::protocol {
namespace {

// The job command line as the service formats it, split at blanks as the
// system does with the unquoted key part, then joined again.
std::string ArrivedText(const std::string& printerName, const std::string& tail) {
  std::vector<std::string> args = {"/opt/kavelo/PrintService/Ostrevo",
                                   "/opt/kavelo/PrintService/Ostrevo"};
  std::string keys =
      "xml=/spool/00000001.xml;xsl=/spool/00000001.xsl;fromPage=1;toPage=3;"
      "printerName=" +
      printerName + tail;
  std::string current;
  for (char c : keys) {
    if (c == ' ') {
      if (!current.empty()) args.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<const char*> argv = {"Ostrevo"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return JoinArguments(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineTest, JoinUsesSingleBlanksAndSkipsEmptyArguments) {
  const char* argv[] = {"prog", "a", "", "b c", "", "d"};
  EXPECT_EQ("a b c d", JoinArguments(6, argv));
  const char* only[] = {"prog"};
  EXPECT_EQ("", JoinArguments(1, only));
  // The service's own options keep a blank for every argument.
  const char* service[] = {"Brelvane", "-Hint", "90000", "-Version"};
  EXPECT_EQ(JoinEveryArgument(4, service), "-Hint 90000 -Version");
  EXPECT_EQ(JoinEveryArgument(1, service), "");
}

TEST(CommandLineTest, PrinterNameKeepsOneBlankAndItsSemicolonAndCopyIsStillRead) {
  std::string text = ArrivedText("HP  Laser;Floor 2", ";copy=3;orien=2");
  char printer[kJobValueSize];
  EXPECT_EQ(KeyValue::kFound, FindPrinterName(text.c_str(), printer, sizeof(printer)));
  EXPECT_STREQ("HP Laser;Floor 2", printer);
  EXPECT_EQ(3, FindKeyNumber(text.c_str(), "copy"));
  EXPECT_EQ(2, FindKeyNumber(text.c_str(), "orien"));
  char xml[kJobValueSize];
  EXPECT_EQ(KeyValue::kFound, FindKeyValue(text.c_str(), "xml", xml, sizeof(xml)));
  EXPECT_STREQ("/spool/00000001.xml", xml);
}

TEST(CommandLineTest, KeyLookup) {
  struct Case {
    const char* text;
    const char* key;
    KeyValue result;
    const char* value;
  } cases[] = {
      {"a xml=/x/1.xml;xsl=/x/1.xsl", "xml", KeyValue::kFound, "/x/1.xml"},
      {"a xml=/x/1.xml;xsl=/x/1.xsl", "xsl", KeyValue::kFound, "/x/1.xsl"},
      {"a xml=;xsl=/x/1.xsl", "xml", KeyValue::kFound, ""},
      {"a XML=/x/1.xml", "xml", KeyValue::kMissing, ""},  // names are case-sensitive
      {"a xml /x/1.xml", "xml", KeyValue::kMissing, ""},  // "=" must follow the name
      {"a myxml=1;xml=2", "xml", KeyValue::kFound, "1"},  // first occurrence anywhere
      {"a printerName=P;copy=2", "printerName", KeyValue::kFound, "P"},
  };
  for (const Case& c : cases) {
    char value[kJobValueSize] = "junk";
    EXPECT_EQ(c.result, FindKeyValue(c.text, c.key, value, sizeof(value))) << c.text;
    EXPECT_STREQ(c.value, value) << c.text;
  }
}

TEST(CommandLineTest, PrinterNameRunsToTheFirstSemicolonCopy) {
  struct Case {
    const char* text;
    KeyValue result;
    const char* value;
  } cases[] = {
      {"printerName=A;B;copy=1", KeyValue::kFound, "A;B"},
      {"printerName=A;B", KeyValue::kFound, "A;B"},  // no ";copy": to the end
      {"printerName=;copy=1", KeyValue::kFound, ""},
      {"printerName=A;copyright;copy=2", KeyValue::kFound, "A"},
      {"printername=A;copy=2", KeyValue::kMissing, ""},
  };
  for (const Case& c : cases) {
    char value[kJobValueSize] = "junk";
    EXPECT_EQ(c.result, FindPrinterName(c.text, value, sizeof(value))) << c.text;
    EXPECT_STREQ(c.value, value) << c.text;
  }
}

TEST(CommandLineTest, ValuesTooLongForTheirFieldAreRefusedNotCut) {
  std::string path(511, 'p');
  std::string text = "xml=" + path + ";printerName=" + path + "q;copy=1";
  char value[kJobValueSize];
  EXPECT_EQ(KeyValue::kFound, FindKeyValue(text.c_str(), "xml", value, sizeof(value)));
  EXPECT_EQ(path, value);
  EXPECT_EQ(KeyValue::kTooLong, FindPrinterName(text.c_str(), value, sizeof(value)));
  EXPECT_STREQ("", value);
}

TEST(CommandLineTest, Numbers) {
  struct Case {
    const char* text;
    const char* key;
    int value;
  } cases[] = {{"toPage=12;", "toPage", 12},    {"toPage=abc;", "toPage", 0},
               {"copy=-4;", "copy", -4},        {"copy=+2", "copy", 2},
               {"orien=", "orien", 0},          {"x=1", "orien", 0},
               {"fromPage=3x;", "fromPage", 3}, {"fromPage=;toPage=7", "fromPage", 0}};
  for (const Case& c : cases) EXPECT_EQ(c.value, FindKeyNumber(c.text, c.key)) << c.text;
}

TEST(CommandLineTest, WhatTheServiceFormatsThePrintControlReadsBack) {
  const std::string line =
      FormatJobCommandLine("/opt/k/Ostrevo", "/spool/00000007.xml", "/spool/00000007.xsl",
                           "HP Laser;2nd floor", 2, 3, 4, -5);
  EXPECT_EQ(
      "\"/opt/k/Ostrevo\" \"/opt/k/Ostrevo\" xml=/spool/00000007.xml;xsl=/spool/00000007.xsl;"
      "fromPage=4;toPage=-5;printerName=HP Laser;2nd floor;copy=3;orien=2",
      line);
  // The print control sees the key part split at its blanks.
  std::vector<std::string> args = {"/opt/k/Ostrevo", "/opt/k/Ostrevo"};
  std::string keys = line.substr(line.find(" xml=") + 1);
  for (size_t start = 0, blank;; start = blank + 1) {
    blank = keys.find(' ', start);
    args.push_back(keys.substr(start, blank == std::string::npos ? blank : blank - start));
    if (blank == std::string::npos) break;
  }
  const std::string text = JoinArguments(args, 2);
  char value[kJobValueSize];
  EXPECT_EQ(KeyValue::kFound, FindKeyValue(text.c_str(), "xml", value, sizeof(value)));
  EXPECT_STREQ("/spool/00000007.xml", value);
  EXPECT_EQ(KeyValue::kFound, FindKeyValue(text.c_str(), "xsl", value, sizeof(value)));
  EXPECT_STREQ("/spool/00000007.xsl", value);
  EXPECT_EQ(KeyValue::kFound, FindPrinterName(text.c_str(), value, sizeof(value)));
  EXPECT_STREQ("HP Laser;2nd floor", value);
  std::string printer;
  EXPECT_TRUE(FindPrinterNameText(text, &printer));
  EXPECT_EQ("HP Laser;2nd floor", printer);
  EXPECT_EQ(4, FindKeyNumber(text.c_str(), "fromPage"));
  EXPECT_EQ(-5, FindKeyNumber(text.c_str(), "toPage"));
  EXPECT_EQ(3, FindKeyNumber(text.c_str(), "copy"));
  EXPECT_EQ(2, FindKeyNumber(text.c_str(), "orien"));
}

}  // namespace
}  // namespace kavelo::protocol
