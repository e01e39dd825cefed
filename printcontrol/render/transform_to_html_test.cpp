#include "printcontrol/render/transform_to_html.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "printcontrol/render/hidden_block_filter.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"
#include "testsupport/text.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::CountOf;
using testsupport::FileExists;
using testsupport::ReadFileOrMissing;
using testsupport::TempDir;
using testsupport::WriteFile;

const std::string kTestData = KAVELO_SOURCE_DIR "/printcontrol/testdata/";
const std::string kSeparator(80, '=');

std::string Transform(const std::string& xml, const std::string& xsl, const std::string& html,
                      int styleFlag) {
  char error[1024] = "stale";
  TransformToHtml(xml.c_str(), xsl.c_str(), html.c_str(), styleFlag, error);
  return error;
}

// A stylesheet that copies the text of the report's root.
std::string Stylesheet(const std::string& encoding, const std::string& body,
                       const std::string& method = "html") {
  return "<?xml version=\"1.0\"?>\n"
         "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:output method=\"" +
         method + "\" encoding=\"" + encoding + "\"/><xsl:template match=\"/\">" + body +
         "</xsl:template></xsl:stylesheet>";
}

TEST(TransformToHtmlTest, SamplesAndTheSeparatorClean) {
  TempDir folder;
  std::string html = folder.File("page.html");

  EXPECT_EQ(Transform(kTestData + "sales.xml", kTestData + "sales.xsl", html, 0), "");
  std::string sales = ReadFileOrMissing(html);
  EXPECT_NE(sales.find("<title>Monthly Sales &amp; Returns</title>"), std::string::npos);
  EXPECT_EQ(CountOf(sales, "Pacific Rim Imports"), 1u);
  EXPECT_EQ(sales.find('\r'), std::string::npos);

  // Style flag 0: the separator lines stay.
  EXPECT_EQ(Transform(kTestData + "ledger.xml", kTestData + "ledger.xsl", html, 0), "");
  std::string plain = ReadFileOrMissing(html);
  EXPECT_EQ(CountOf(plain, kSeparator + "\n</pre>"), 2u);
  // Style flag 1: both go, and nothing else changes.
  EXPECT_EQ(Transform(kTestData + "ledger.xml", kTestData + "ledger.xsl", html, 1), "");
  std::string cleaned = ReadFileOrMissing(html);
  EXPECT_EQ(CountOf(cleaned, kSeparator), 0u);
  EXPECT_EQ(cleaned.size(), plain.size() - 2 * (kSeparator.size() + 1));
  EXPECT_EQ(folder.Listing(), "page.html");
}

TEST(TransformToHtmlTest, Failures) {
  TempDir folder;
  std::string html = folder.File("page.html");

  // A missing stylesheet: the processor's text, and an empty HTML file.
  WriteFile(html, "old page");
  std::string error = Transform(kTestData + "sales.xml", folder.File("absent.xsl"), html, 1);
  EXPECT_NE(error, "");
  EXPECT_NE(error, "Find error in creating html pages.");
  EXPECT_EQ(ReadFileOrMissing(html), "");

  // A stylesheet that is not well-formed.
  WriteFile(folder.File("bad.xsl"), "<xsl:stylesheet");
  EXPECT_NE(Transform(kTestData + "sales.xml", folder.File("bad.xsl"), html, 0), "");

  // The HTML file cannot be opened.
  std::string unopenable = folder.File("no-folder/page.html");
  EXPECT_EQ(Transform(kTestData + "sales.xml", kTestData + "sales.xsl", unopenable, 0),
            "Error: Can't open file:" + unopenable);

  // A long path: the message is cut to 1004 characters.
  std::string longPath = folder.File(std::string(1000, 'x') + "/page.html");
  EXPECT_EQ(Transform(kTestData + "sales.xml", kTestData + "sales.xsl", longPath, 0).size(), 1004u);
}

TEST(TransformToHtmlTest, OutputConversions) {
  TempDir folder;
  std::string xml = folder.File("r.xml");
  std::string xsl = folder.File("r.xsl");
  std::string html = folder.File("r.html");
  WriteFile(xml,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>a\xC2\xA0"
            "b\xC2\x99\xC3\xA9</r>");
  // The XML output method writes the characters as UTF-8 bytes (the HTML
  // method would write its own entity references).
  WriteFile(xsl, Stylesheet("UTF-8", "<p><xsl:value-of select=\"r\"/></p>", "xml"));
  EXPECT_EQ(Transform(xml, xsl, html, 0), "");
  EXPECT_NE(ReadFileOrMissing(html).find("<p>a&nbsp;b&#153;\xC3\xA9</p>"), std::string::npos)
      << ReadFileOrMissing(html);
}

TEST(TransformToHtmlTest, FilteredCopyTransformsLikeTheOriginal) {
  // The copy without hidden blocks must keep Latin-1 text, markup in
  // expressions and character references intact.
  TempDir folder;
  std::string xml = folder.File("r.xml");
  std::string xsl = folder.File("r.xsl");
  std::string none = folder.File("rnone.xsl");
  WriteFile(xml, "<r><n>3</n></r>");
  WriteFile(xsl,
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
            "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
            "<xsl:output method=\"html\" encoding=\"ISO-8859-1\"/><xsl:template match=\"/\">"
            "<p title=\"Gr\xF6\xDF"
            "e\">Gr\xF6\xDF"
            "e<xsl:if test=\"r/n &lt; 5\"> small</xsl:if>"
            "</p><div style=\"display:none\">secret</div></xsl:template></xsl:stylesheet>");
  char error[1024];
  WriteFilteredStylesheet(xsl.c_str(), none.c_str(), error);
  ASSERT_STREQ(error, "");
  EXPECT_EQ(Transform(xml, none, folder.File("a.html"), 0), "");
  EXPECT_EQ(Transform(xml, xsl, folder.File("b.html"), 0), "");
  std::string filtered = ReadFileOrMissing(folder.File("a.html"));
  std::string original = ReadFileOrMissing(folder.File("b.html"));
  EXPECT_NE(filtered.find("<p title=\"Gr&ouml;&szlig;e\">Gr&ouml;&szlig;e small</p>"),
            std::string::npos)
      << filtered;
  EXPECT_EQ(filtered.find("secret"), std::string::npos);
  EXPECT_NE(original.find("secret"), std::string::npos);
}

TEST(TransformToHtmlTest, HostileDocumentsAreRefused) {
  const std::string laughs =
      "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
      "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
      "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">"
      "<!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>";
  const std::string copyRoot = Stylesheet("UTF-8", "<p>[<xsl:value-of select=\"r\"/>]</p>");
  struct Case {
    const char* name;
    std::string xml;
    std::string xsl;
    bool fails;
    std::string html;      // expected in the output when it does not fail
    bool refused = false;  // by the expansion limit, before the processor runs
  } cases[] = {
      {"billion laughs in the report", laughs + "<r>&i;</r>", copyRoot, true, "", true},
      {"billion laughs in the stylesheet", "<r/>",
       laughs + "<xsl:stylesheet version=\"1.0\" "
                "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:template "
                "match=\"/\">&i;</xsl:template></xsl:stylesheet>",
       true, "", true},
      // 192.0.2.1 is a documentation address: a fetch would hang, not fail.
      {"external entity by URL in the report",
       "<!DOCTYPE r [<!ENTITY x SYSTEM \"http://192.0.2.1/x.ent\">]><r>&x;ok</r>", copyRoot, false,
       "<p>[ok]</p>"},
      {"local file as an entity", "<!DOCTYPE r [<!ENTITY x SYSTEM \"/etc/passwd\">]><r>&x;ok</r>",
       copyRoot, false, "<p>[ok]</p>"},
      {"external DTD by URL", "<!DOCTYPE r SYSTEM \"http://192.0.2.1/r.dtd\"><r>ok</r>", copyRoot,
       false, "<p>[ok]</p>"},
      {"document() by URL", "<r>ok</r>",
       Stylesheet("UTF-8",
                  "<p>[<xsl:value-of select=\"r\"/><xsl:value-of "
                  "select=\"document('http://192.0.2.1/d.xml')\"/>]</p>"),
       false, "<p>[ok]</p>"},
      {"include by URL", "<r/>",
       "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
       "<xsl:include href=\"http://192.0.2.1/i.xsl\"/></xsl:stylesheet>",
       true, ""},
  };
  for (const Case& c : cases) {
    TempDir folder;
    WriteFile(folder.File("r.xml"), c.xml);
    WriteFile(folder.File("r.xsl"), c.xsl);
    std::string error =
        Transform(folder.File("r.xml"), folder.File("r.xsl"), folder.File("r.html"), 0);
    EXPECT_EQ(error.empty(), !c.fails) << c.name << ": " << error;
    if (c.refused) {
      EXPECT_EQ(error.rfind("Refused " + folder.path(), 0), 0u) << c.name << ": " << error;
    }
    if (!c.fails) {
      EXPECT_NE(ReadFileOrMissing(folder.File("r.html")).find(c.html), std::string::npos) << c.name;
    }
  }
}

TEST(TransformToHtmlTest, StandardErrorStaysQuiet) {
  TempDir folder;
  WriteFile(folder.File("r.xml"), "<r>x</r>");
  WriteFile(folder.File("r.xsl"),
            Stylesheet("UTF-8",
                       "<xsl:message>note to the log</xsl:message><p>"
                       "<xsl:value-of select=\"document('absent.xml')\"/></p>"));
  WriteFile(folder.File("bad.xsl"), "<xsl:stylesheet");
  std::string captured = folder.File("stderr.txt");
  fflush(stderr);
  int saved = dup(2);
  int fd = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  dup2(fd, 2);
  close(fd);
  std::string good =
      Transform(folder.File("r.xml"), folder.File("r.xsl"), folder.File("a.html"), 0);
  std::string bad =
      Transform(folder.File("r.xml"), folder.File("bad.xsl"), folder.File("b.html"), 0);
  fflush(stderr);
  std::cerr.flush();
  dup2(saved, 2);
  close(saved);
  EXPECT_EQ(good, "");
  EXPECT_NE(bad, "");
  EXPECT_EQ(ReadFileOrMissing(captured), "");
}

}  // namespace
}  // namespace kavelo::printcontrol
