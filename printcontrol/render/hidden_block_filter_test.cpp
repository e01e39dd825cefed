#include "printcontrol/render/hidden_block_filter.h"

#include <string>

#include <gtest/gtest.h>

#include "printcontrol/render/transform_to_html.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::FileExists;
using testsupport::ReadFileOrMissing;
using testsupport::TempDir;
using testsupport::WriteFile;

const char kDeclaration[] = "<?xml version=\"1.0\"?>\n";

// Filters `source` and returns the copy without its declaration line, or
// "error: ..." when the filter reported an error.
std::string Filter(const TempDir& folder, const std::string& source) {
  WriteFile(folder.File("in.xsl"), source);
  char error[1024] = "stale";
  WriteFilteredStylesheet(folder.File("in.xsl").c_str(), folder.File("none.xsl").c_str(), error);
  if (error[0] != '\0') return std::string("error: ") + error;
  std::string copy = ReadFileOrMissing(folder.File("none.xsl"));
  if (copy.rfind(kDeclaration, 0) != 0) return "no declaration: " + copy;
  return copy.substr(sizeof(kDeclaration) - 1);
}

TEST(HiddenBlockFilterTest, CopiesWithoutHiddenBlocks) {
  struct Case {
    const char* name;
    std::string source;
    std::string copy;
  } cases[] = {
      {"nested hidden block",
       "<r><div style=\"display:none\"><div>x</div><p>y</p></div><p>z</p></r>", "<r><p>z</p></r>"},
      {"capitals and trailing blank", "<r><DIV STYLE=\"Display: None \">x</DIV>y</r>", "<r>y</r>"},
      {"span is not tested", "<r><span style=\"display:none\">x</span></r>",
       "<r><span style=\"display:none\">x</span></r>"},
      // The hidden div's end counts as an event, so the parent keeps its end tag.
      {"style not the first attribute", "<r><div class=\"a\" style=\"display:none\">x</div></r>",
       "<r></r>"},
      {"blanks around", "<r><div style=\" DISPLAY : NONE \">x</div>k</r>", "<r>k</r>"},
      {"semicolon at the end", "<r><div style=\"display:none;\">x</div></r>",
       "<r><div style=\"display:none;\">x</div></r>"},
      {"other rule first", "<r><div style=\"color:red;display:none\">x</div></r>",
       "<r><div style=\"color:red;display:none\">x</div></r>"},
      {"display inline", "<r><div style=\"display:inline\">x</div></r>",
       "<r><div style=\"display:inline\">x</div></r>"},
      {"too short", "<r><div style=\"display:non\">x</div></r>",
       "<r><div style=\"display:non\">x</div></r>"},
      {"hidden div closes, siblings stay",
       "<r><div style=\"display:none\"><div/></div><div>a</div></r>", "<r><div>a</div></r>"},
      {"empty element folded", "<r><td></td></r>", "<r><td/></r>"},
      {"whitespace keeps the end tag", "<r><td> </td></r>", "<r><td> </td></r>"},
      {"attributes kept in order", "<r><a b=\"1\" c=\"2\"/></r>", "<r><a b=\"1\" c=\"2\"/></r>"},
      {"declaration and comments dropped",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!DOCTYPE r [<!ENTITY e \"E\">]>\n"
       "<!-- note --><r><?pi x?>a&e;<!-- more -->b</r>",
       "<r>aEb</r>"},
      {"line breaks in text stay", "<r>\n<p>a\nb</p>\n</r>", "<r>\n<p>a\nb</p>\n</r>"},
      {"markup in values stays well-formed", "<r t=\"a &lt; b &amp; &quot;c&quot;\">x &lt; y</r>",
       "<r t=\"a &lt; b &amp; &quot;c&quot;\">x &lt; y</r>"},
      {"Latin-1 text read back as the same characters",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r a=\"\xE9\">Gr\xF6\xDF"
       "e</r>",
       "<r a=\"\xC3\xA9\">Gr\xC3\xB6\xC3\x9F"
       "e</r>"},
      {"characters above Latin-1 kept", "<r>&#x20AC; &#x1F600;</r>",
       "<r>\xE2\x82\xAC \xF0\x9F\x98\x80</r>"},
      {"missing DTD does not stop the copy",
       "<!DOCTYPE r SYSTEM \"absent.dtd\"><r><div style=\"display:none\"/>ok</r>", "<r>ok</r>"},
      {"broken document keeps what came before", "<r><p>a</p><q></r>", "<r><p>a</p><q>"},
  };
  for (const Case& c : cases) {
    TempDir folder;
    EXPECT_EQ(Filter(folder, c.source), c.copy) << c.name;
  }
}

TEST(HiddenBlockFilterTest, StyleValues) {
  struct Case {
    const char* value;
    bool hidden;
  } cases[] = {
      {"display:none", true},
      {"display: none", true},
      {" DISPLAY : NONE ", true},
      {"display:none;", false},
      {"color:red;display:none", false},
      {"display:inline", false},
      {"", false},
      {"   ", false},
      {"displaynone", false},
      {"display :  none   ", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsHiddenStyleValue(c.value), c.hidden) << c.value;
}

TEST(HiddenBlockFilterTest, FailuresAndTheOldCopy) {
  TempDir folder;
  std::string out = folder.File("none.xsl");
  char error[1024];

  // A missing stylesheet is no exception: the copy holds only the declaration
  // and is not a usable stylesheet, so the caller's transform falls back.
  WriteFile(out, "old copy");
  WriteFilteredStylesheet(folder.File("absent.xsl").c_str(), out.c_str(), error);
  EXPECT_STREQ(error, "");
  EXPECT_EQ(ReadFileOrMissing(out), kDeclaration);
  char transformError[1024];
  TransformToHtml(KAVELO_SOURCE_DIR "/printcontrol/testdata/sales.xml", out.c_str(),
                  folder.File("page.html").c_str(), 0, transformError);
  EXPECT_STRNE(transformError, "");  // so the caller takes the original

  // The output cannot be created: the old copy is gone, the message names it.
  WriteFile(folder.File("in.xsl"), "<r/>");
  std::string unwritable = folder.File("no-such-folder/none.xsl");
  WriteFilteredStylesheet(folder.File("in.xsl").c_str(), unwritable.c_str(), error);
  EXPECT_EQ(std::string(error), "Can't create file " + unwritable + ".");
}

TEST(HiddenBlockFilterTest, HostileStylesheetsStayBounded) {
  struct Case {
    const char* name;
    std::string source;
    std::string copy;  // empty: only bounded
  } cases[] = {
      {"billion laughs",
       "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
       "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d "
       "\"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
       "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f "
       "\"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
       "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h "
       "\"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">"
       "<!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\"><!ENTITY j "
       "\"&i;&i;&i;&i;&i;&i;&i;&i;&i;&i;\">]>"
       "<r>&j;</r>",
       ""},
      // 192.0.2.1 is a documentation address: a fetch would hang, not fail.
      {"external entity by URL",
       "<!DOCTYPE r [<!ENTITY x SYSTEM \"http://192.0.2.1/x.ent\">]><r>[&x;]</r>", "<r>[]</r>"},
      {"external DTD by URL", "<!DOCTYPE r SYSTEM \"http://192.0.2.1/r.dtd\"><r>[]</r>",
       "<r>[]</r>"},
      {"local file as entity", "<!DOCTYPE r [<!ENTITY x SYSTEM \"/etc/hostname\">]><r>[&x;]</r>",
       "<r>[]</r>"},
  };
  for (const Case& c : cases) {
    TempDir folder;
    std::string copy = Filter(folder, c.source);
    // Ten to the tenth expansions would be 10 GB; the limit stops at 10000.
    EXPECT_LT(copy.size(), 200000u) << c.name;
    if (!c.copy.empty()) {
      EXPECT_EQ(copy, c.copy) << c.name;
    }
  }
}

}  // namespace
}  // namespace kavelo::printcontrol
