#include "printcontrol/render/xml_escape.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

std::string Escape(const std::u16string& source, size_t size = 1024, size_t limit = 1023) {
  std::string out(size + 16, '#');  // room beyond the destination to see overruns
  EscapeXmlText(source.c_str(), &out[0], size, limit);
  for (size_t i = size; i < out.size(); ++i) {
    EXPECT_EQ('#', out[i]) << "written beyond the destination at " << i;
  }
  return out.c_str();
}

TEST(XmlEscapeTest, EscapesByTheTable) {
  struct Case {
    std::u16string source;
    std::string escaped;
  } cases[] = {
      {u"a<b & \"c\"", "a&lt;b &amp; &quot;c&quot;"},
      {u"It's", "It&apos;s"},
      {u"\t\n", "&#9;\n"},
      {u"\r", "&#13;"},
      {u"x>y", "x&gt;y"},
      {u"\u00e9", "&#233;"},
      {u"\u0001\u001f", "&#1;&#31;"},
      {u"\u007f\u0080\u00ff", "\x7f&#128;&#255;"},
      {u" ~", " ~"},
      {u"", ""},
      {u"\u20ac", "&#8364;"},        // above U+00FF: the code point
      {u"\U0001F600", "&#128512;"},  // a surrogate pair is one character
      {u"\xd800x", "&#65533;x"},     // a lone surrogate
  };
  for (const Case& c : cases) EXPECT_EQ(c.escaped, Escape(c.source));
  char out[8] = "junk";
  EscapeXmlText(nullptr, out, sizeof(out), 8);
  EXPECT_STREQ("", out);
}

TEST(XmlEscapeTest, ConvertsAtMostLimitMinusOneCodeUnits) {
  EXPECT_EQ("abc", Escape(u"abcdef", 1024, 4));
  EXPECT_EQ("", Escape(u"abc", 1024, 1));
  EXPECT_EQ("", Escape(u"abc", 1024, 0));
  std::u16string longText(2000, u'x');
  EXPECT_EQ(std::string(1022, 'x'), Escape(longText));
}

TEST(XmlEscapeTest, NeverWritesOutsideTheDestinationAndNeverCutsAReference) {
  // Each "<" becomes four bytes: 1023 of them would need 4092 bytes.
  std::u16string markup(1023, u'<');
  std::string out = Escape(markup);
  EXPECT_EQ(1020u, out.size());  // 255 whole references fit into 1023 bytes
  for (size_t i = 0; i < out.size(); i += 4) EXPECT_EQ("&lt;", out.substr(i, 4));
  // High bytes become six-byte references; small destinations of every size.
  std::u16string high(300, u'\u00e9');
  for (size_t size = 1; size < 40; ++size) {
    std::string cut = Escape(high, size, 1023);
    EXPECT_LT(cut.size(), size);
    EXPECT_EQ(0u, cut.size() % 6) << size;
  }
  // A mix of forms, in a destination of every size up to the whole result.
  std::u16string mixed = u"a\t<\u00ff\"\U0001F600'b";
  std::string whole = Escape(mixed);
  for (size_t size = 1; size <= whole.size() + 1; ++size) {
    std::string cut = Escape(mixed, size, 1023);
    EXPECT_EQ(0u, whole.compare(0, cut.size(), cut)) << size;
  }
  EXPECT_EQ(whole, Escape(mixed, whole.size() + 1, 1023));
}

}  // namespace
}  // namespace kavelo::printcontrol
