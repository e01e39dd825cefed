#include "printcontrol/render/html_entities.h"

#include <string>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

std::string Decode(const std::string& source, size_t size = 512) {
  std::string out(size, '#');
  DecodeHtmlEntities(source.c_str(), &out[0], out.size());
  return out.c_str();
}

TEST(HtmlEntitiesTest, DecodesTheTableAndLeavesEverythingElse) {
  struct Case {
    const char* source;
    std::string decoded;
  } cases[] = {
      {"Caf&eacute; &amp; Bar&nbsp;&#153;", "Caf\xe9 & Bar \x99"},
      {"R&D; ok", "R&D; ok"},    // candidate not in the table
      {"a & b", "a & b"},        // no semicolon at all
      {"&EACUTE;", "&EACUTE;"},  // case matters
      {"&amp;lt;", "&lt;"},      // one pass only
      {"&times;&divide;", "\xd7\xf7"},
      {"&Agrave;&yuml;&szlig;&THORN;", "\xc0\xff\xdf\xde"},
      {"&lt;b&gt;", "<b>"},
      {"&#233; &copy; &quot;", "&#233; &copy; &quot;"},  // not in the table
      {"&&amp;", "&&"},
      {"x&", "x&"},
      {"&;", "&;"},
      {"&ccedil", "&ccedil"},  // no semicolon
      // The semicolon must be within ten characters of the ampersand.
      {"&abcdefghij;&amp;", "&abcdefghij;&"},
      {"&nbsp;&nbsp;", "  "},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.decoded, Decode(c.source)) << c.source;
}

TEST(HtmlEntitiesTest, EveryLatinNameMapsToItsCodePoint) {
  const char* names[] = {
      "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig", "Ccedil",
      "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc", "Iuml",
      "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",  "times",
      "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN", "szlig",
      "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig", "ccedil",
      "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc", "iuml",
      "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",  "divide",
      "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn", "yuml"};
  ASSERT_EQ(64u, sizeof(names) / sizeof(names[0]));
  for (int i = 0; i < 64; ++i) {
    std::string decoded = Decode(std::string("&") + names[i] + ";");
    ASSERT_EQ(1u, decoded.size()) << names[i];
    EXPECT_EQ(192 + i, static_cast<unsigned char>(decoded[0])) << names[i];
  }
}

TEST(HtmlEntitiesTest, ResultIsCutAndTerminatedInsideTheDestination) {
  std::string longTitle(600, 'a');
  std::string out = Decode(longTitle, 512);
  EXPECT_EQ(std::string(511, 'a'), out);
  // The limit counts decoded characters, not source characters.
  std::string refs;
  for (int i = 0; i < 600; ++i) refs += "&amp;";
  EXPECT_EQ(std::string(511, '&'), Decode(refs, 512));
  EXPECT_EQ("ab", Decode("abc", 3));
  EXPECT_EQ("", Decode("abc", 1));
  char guard[8] = "x";
  DecodeHtmlEntities(nullptr, guard, sizeof(guard));
  EXPECT_STREQ("", guard);
}

}  // namespace
}  // namespace kavelo::printcontrol
