// Reading and rewriting the print style of stylesheets: the sample
// stylesheets and hand-written print blocks.
#include "printcontrol/layout/print_style.h"

#include <string>

#include <gtest/gtest.h>

#include "printcontrol/layout/print_style_rewrite.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::FileExists;
using testsupport::ReadFileOrMissing;
using testsupport::TempDir;
using testsupport::WriteFile;

const std::string kTestData = KAVELO_SOURCE_DIR "/printcontrol/testdata/";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

struct StyleRead {
  std::string family, size, height;
};

StyleRead Read(const std::string& path) {
  char family[512] = "stale";
  char size[512] = "stale";
  char height[512] = "stale";
  PrintStyleFields fields;
  fields.fontFamily = family;
  fields.fontSize = size;
  fields.lineHeight = height;
  fields.fieldSize = sizeof(family);
  ReadPrintStyle(path.c_str(), fields);
  return {family, size, height};
}

TEST(PrintStyleTest, ReadsTheBodyRuleOfThePrintBlock) {
  struct Case {
    const char* name;
    const char* stylesheet;  // null: a sample file named by family
    const char* family;
    const char* size;
    const char* height;
  };
  const Case cases[] = {
      {"sales.xsl", nullptr, "Courier New", "9", "1.2"},
      {"ledger.xsl", nullptr, "Courier New", "10", "1.0"},
      {"last value without semicolon",
       "@media print { body { font-family: \"Arial\"; font-size: 10pt; line-height: 1.5em } }",
       "Arial", "10", "1.5"},
      {"capitals", "@MEDIA PRINT { BODY {FONT-SIZE:8PT;} }", "", "8", ""},
      {"two blanks", "@media  print { body { font-size: 10pt; } }", "", "", ""},
      {"blank before colon", "@media print { body { font-size : 10pt; line-height: 2em; } }", "",
       "", "2"},
      {"unit followed by a blank", "@media print { body { font-size: 10pt ; } }", "", "10pt ", ""},
      {"family without quotes", "@media print { body { font-family: Arial; font-size: 7pt; } }", "",
       "7", ""},
      {"a later value wins", "@media print { body { font-size: 7pt; font-size: 11pt; } }", "", "11",
       ""},
      {"body inside a word without rule",
       "@media print { .nobody p { font-size: 5pt; } body { font-size: 7pt; } }", "", "7", ""},
      {"screen rule before the print block",
       "body { font-size: 20pt; } @media print { body { line-height: 1.4em; } }", "", "", "1.4"},
      {"no body rule", "@media print { p { font-size: 7pt; } }", "", "", ""},
      {"unclosed block", "@media print { body { font-size: 7pt; ", "", "", ""},
      // 0xFF (the Latin-1 y with diaeresis) is a letter, not the end of the file.
      {"Latin-1 y-diaeresis before the block",
       "/* \xff */ @media print { body { font-size: 8pt; line-height: 1.1em; } }", "", "8", "1.1"},
  };
  TempDir folder;
  for (const Case& c : cases) {
    std::string path = kTestData + c.name;
    if (c.stylesheet != nullptr) {
      path = folder.File("style.xsl");
      WriteFile(path, std::string("<style>") + c.stylesheet + "</style>");
    }
    StyleRead got = Read(path);
    EXPECT_EQ(got.family, c.family) << c.name;
    EXPECT_EQ(got.size, c.size) << c.name;
    EXPECT_EQ(got.height, c.height) << c.name;
  }
}

TEST(PrintStyleTest, MissingFileEmptiesAndEmptyPathKeeps) {
  StyleRead missing = Read("/nonexistent/kavelo/style.xsl");
  EXPECT_EQ(missing.family + missing.size + missing.height, "");
  StyleRead none = Read("");
  EXPECT_EQ(none.family + none.size + none.height, "stalestalestale");
}

TEST(PrintStyleRewriteTest, RewritesBodyAndHeadingRules) {
  const std::string sales = ReadFileOrMissing(kTestData + "sales.xsl");
  const std::string ledger = ReadFileOrMissing(kTestData + "ledger.xsl");
  const std::string newBody = "font-family:\"Courier New\"; font-size:6.7pt; line-height:1.8em;";
  struct Case {
    const char* name;
    std::string stylesheet;
    const char* fontName;
    const char* fontSize;
    const char* lineHeight;
    int result;
    std::string copy;  // expected copy, when result is 0
  };
  const Case cases[] = {
      {"sales: body and h1 rewritten, p kept", sales, "Courier New", "6.7", "1.8", 0,
       Replace(Replace(sales,
                       "body { font-family: \"Courier New\"; font-size: 9pt; line-height: 1.2em; }",
                       "body { " + newBody + " }"),
               "h1 { font-family: \"Arial\"; font-size: 12pt; line-height: 1.5em; }",
               "h1 { " + newBody + " }")},
      {"ledger: BODY in capitals", ledger, "Courier New", "6.7", "1.8", 0,
       Replace(ledger,
               "BODY { font-family: \"Courier New\"; font-size: 10pt; line-height: 1.0em; }",
               "BODY { " + newBody + " }")},
      {"empty size keeps the sizes", sales, "Arial", "", "1.1", 0,
       Replace(Replace(sales,
                       "body { font-family: \"Courier New\"; font-size: 9pt; line-height: 1.2em; }",
                       "body { font-family:\"Arial\"; font-size: 9pt; line-height:1.1em; }"),
               "h1 { font-family: \"Arial\"; font-size: 12pt; line-height: 1.5em; }",
               "h1 { font-family:\"Arial\"; font-size: 12pt; line-height:1.1em; }")},
      {"last value ended by the brace", "a @media print { body { font-size: 9pt } } z", "X", "7",
       "", 0, "a @media print { body { font-size:7pt;} } z"},
      {"H1 in capitals, tab before the brace", "@media print { H1\t{ line-height: 2em; } }", "", "",
       "1.5", 0, "@media print { H1\t{ line-height:1.5em; } }"},
      {"no print block", "body { font-size: 9pt; }", "Courier New", "6.7", "1.8", -1, ""},
      {"rule holds no property", "@media print { body { color: red; } }", "Courier New", "6.7",
       "1.8", -1, ""},
      {"values already equal",
       "@media print { body { font-family:\"Courier New\";font-size:6.7pt;line-height:1.8em; } }",
       "Courier New", "6.7", "1.8", -1, ""},
      {"unclosed rule", "@media print { body { font-size: 9pt; }", "A", "6.7", "1.8", -1, ""},
      {"no values", sales, "", "", "", -1, ""},
      // Every byte after the block reaches the copy, 0xFF (a Latin-1 letter) too.
      {"0xFF after the block", "a @media print { body { font-size: 9pt } } z\xffy\xff", "X", "7",
       "", 0, "a @media print { body { font-size:7pt;} } z\xffy\xff"},
      {"0xFF before the block", "\xff @media print { body { font-size: 9pt } } z", "X", "7", "", 0,
       "\xff @media print { body { font-size:7pt;} } z"},
  };
  TempDir folder;
  for (const Case& c : cases) {
    const std::string path = folder.File("00000001.xsl");
    const std::string copyPath = folder.File("00000001st.xsl");
    WriteFile(path, c.stylesheet);
    char copy[512] = "";
    int rc =
        RewritePrintStyle(path.c_str(), copy, sizeof(copy), c.fontName, c.fontSize, c.lineHeight);
    EXPECT_EQ(rc, c.result) << c.name;
    EXPECT_EQ(ReadFileOrMissing(path), c.stylesheet) << c.name << ": the stylesheet itself changed";
    if (c.result == 0) {
      EXPECT_EQ(copy, copyPath) << c.name;
      EXPECT_EQ(ReadFileOrMissing(copyPath), c.copy) << c.name;
    } else {
      EXPECT_FALSE(FileExists(copyPath)) << c.name;
    }
    std::remove(copyPath.c_str());
  }
}

TEST(PrintStyleRewriteTest, CopyPathReplacesTheXslEnding) {
  EXPECT_EQ(PrintStyleCopyPath("/spool/00000007.xsl"), "/spool/00000007st.xsl");
  EXPECT_EQ(PrintStyleCopyPath("/spool/style.XSL"), "/spool/style.XSLst.xsl");
  EXPECT_EQ(PrintStyleCopyPath("/spool/style"), "/spool/stylest.xsl");
  EXPECT_EQ(PrintStyleCopyPath(".xsl"), ".xslst.xsl");
}

}  // namespace
}  // namespace kavelo::printcontrol
