// The print option parser: scanner moves, quoted values, parsing of whole
// option texts and the rules that apply them to a job.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "service/intake/option_list.h"
#include "service/intake/quoted_text.h"
#include "service/intake/text_scanner.h"
#include "service/queue/job_values.h"

namespace kavelo::service {
namespace {

TEST(TextScanner, EveryMoveOnTheEmptyTextRaises) {
  TextScanner s("");
  EXPECT_THROW(s.Current(), StringIndexOutOfBoundsException);
  EXPECT_THROW(s.Next(), StringIndexOutOfBoundsException);
  EXPECT_THROW(s.Previous(), StringIndexOutOfBoundsException);
  EXPECT_THROW(s.SkipTo('='), StringIndexOutOfBoundsException);
  EXPECT_THROW(s.SkipBlanks(), StringIndexOutOfBoundsException);
  EXPECT_THROW(s.SetMark(), StringIndexOutOfBoundsException);
  EXPECT_THROW(s.GetMark(), StringIndexOutOfBoundsException);
  EXPECT_EQ(s.MarkedLength(), 0);
  EXPECT_EQ(s.MarkedText(), "");
  EXPECT_THROW(TextScanner(nullptr), NullPointerException);
}

TEST(TextScanner, FailedMovesLeaveThePositionAtTheEnds) {
  TextScanner s("ab");
  EXPECT_THROW(s.Current(), StringIndexOutOfBoundsException);  // at -1
  EXPECT_EQ(s.position(), 2);
  s.ToStart();
  EXPECT_EQ(s.Next(), 'a');
  EXPECT_THROW(s.Previous(), StringIndexOutOfBoundsException);
  EXPECT_EQ(s.position(), -1);
  EXPECT_THROW(s.SkipTo('x'), StringIndexOutOfBoundsException);
  EXPECT_EQ(s.position(), 2);
  // SkipTo passes over a match at the current position.
  TextScanner t("a=b=c");
  t.Next();
  t.SkipTo('=');
  EXPECT_EQ(t.position(), 1);
  t.SkipTo('=');
  EXPECT_EQ(t.position(), 3);
  // Marks outside the text are refused; the marked text spans both ways.
  EXPECT_THROW(t.SetMarkAt(5), StringIndexOutOfBoundsException);
  EXPECT_THROW(t.SetMarkAt(-1), StringIndexOutOfBoundsException);
  EXPECT_EQ(t.SetMarkAt(0), 0);
  EXPECT_EQ(t.MarkedText(), "a=b=");
  t.SetMarkAt(4);
  EXPECT_EQ(t.MarkedText(), "=c");
  EXPECT_EQ(t.MarkedLength(), 2);
}

TEST(TextScanner, SkipQuotedEndsOnTheLastClosingQuoteAndKeepsTheMark) {
  struct Case {
    const char* text;
    int32_t end;  // position after SkipQuoted, or -2 when it raises
  } cases[] = {
      {"x'ab',y", 4}, {"x'a' 'b',y", 7}, {"x'it''s'", 7},  {"x'a'  ", 3},
      {"x'a' 'b", 3}, {"x'abc", -2},     {"x'a'\"b\"", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TextScanner s(c.text);
    s.Next();
    s.SetMark();  // on x
    s.Next();     // on the opening quote
    if (c.end == -2) {
      EXPECT_THROW(s.SkipQuoted('\''), StringIndexOutOfBoundsException);
      EXPECT_EQ(s.position(), s.length());
      continue;
    }
    s.SkipQuoted('\'');
    EXPECT_EQ(s.position(), c.end);
    EXPECT_EQ(s.GetMark(), 0);
  }
  TextScanner s("x'a'");
  s.Next();
  EXPECT_THROW(s.SkipQuoted('\''), IllegalArgumentException);
}

TEST(QuotedText, IsQuotedAndStripQuotes) {
  struct Case {
    const char* text;
    char open, close;
    bool quoted;
    const char* stripped;
  } cases[] = {
      {"'a'", '\'', '\'', true, "a"}, {"''", '\'', '\'', false, "''"},
      {"'", '\'', '\'', false, "'"},  {"'ab", '\'', '\'', false, "'ab"},
      {"\"a'", '"', '\'', true, "a"}, {"'a\"", '\'', '\'', false, "'a\""},
      {"'''", '\'', '\'', true, "'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsQuoted(c.text, c.open, c.close), c.quoted);
    EXPECT_EQ(StripQuotes(c.text, c.open, c.close), c.stripped);
  }
  EXPECT_THROW(IsQuoted(nullptr, '\'', '\''), NullPointerException);
  EXPECT_THROW(StripQuotes("", '\'', '\''), IllegalArgumentException);
}

TEST(OptionEntry, SetTrimsLowersAndCollapsesAgainOnEveryCopy) {
  OptionEntry e;
  e.Set(" \tKey\r\n", "a''''''''b\"\"'");
  EXPECT_EQ(e.key(), "key");
  EXPECT_EQ(e.value(), "a''''b\"'");
  OptionEntry copy(e);
  EXPECT_EQ(copy.value(), "a''b\"'");
  OptionEntry assigned;
  assigned = copy;
  EXPECT_EQ(assigned.value(), "a'b\"'");
  assigned = assigned;  // self-assignment changes nothing
  EXPECT_EQ(assigned.value(), "a'b\"'");
  // A quote of the other kind does not end a run.
  e.Set("k", "'\"'");
  EXPECT_EQ(e.value(), "'\"");
  e.Set("k", nullptr);
  EXPECT_EQ(e.value(), "");
  EXPECT_THROW(e.Set(nullptr, "v"), NullPointerException);
  EXPECT_THROW(e.Set("", "v"), IllegalArgumentException);
  EXPECT_TRUE(OptionEntry("PRINTER=x").KeyEquals("Printer"));
  EXPECT_THROW(e.KeyEquals(""), IllegalArgumentException);
  EXPECT_THROW(OptionEntry(static_cast<const char*>(nullptr)), NullPointerException);
  EXPECT_THROW(OptionEntry(""), IllegalArgumentException);
}

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries Parsed(const char* text) {
  OptionList list;
  list.Parse(text);
  return list.Items();
}

TEST(OptionList, ParseFindsTheItemsAsWritten) {
  struct Case {
    const char* text;
    Entries entries;  // as stored in the list, after three collapses
  } cases[] = {
      {"a=1,,b=2", {{"a", "1"}, {",b", "2"}}},
      {"a=,b=2", {{"a", ",b=2"}}},
      {"word,copies=2", {{"word,copies", "2"}}},
      {"x=1,word", {{"x", "1"}}},
      {"x=1,printer='abc,copies=2", {{"x", "1"}}},
      {"x=1,a=", {{"x", "1"}}},
      {"   \t ", {}},
      {"k = two words  ,x=1", {{"k", "two words"}, {"x", "1"}}},
      {"printer='a' 'b'", {{"printer", "a' 'b"}}},
      {"printer=\"\"", {{"printer", "\""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Parsed(c.text), c.entries);
  }
}

TEST(OptionList, ParseRaisesOnlyForMissingOrEmptyTextsAndEmptyKeys) {
  OptionList list;
  EXPECT_THROW(list.Parse(nullptr), NullPointerException);
  const char nulFirst[] = "\0copies=2";
  EXPECT_THROW(list.Parse(nulFirst), IllegalArgumentException);
  // A line break right before '=' makes an entry whose key trims to empty;
  // copying it into the list raises, and the entries before it remain.
  EXPECT_THROW(list.Parse("copies=2,\n=x"), IllegalArgumentException);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_NE(list.Find("copies"), nullptr);
}

TEST(ApplyPrintOptions, OptionTextsGiveTheseJobValues) {
  struct Case {
    const char* text;
    const char* printer;
    int32_t copies, fromPage, toPage, orientation;
  } cases[] = {
      {"printer='Office 2',copies=2", "Office 2", 2, 0, 0, 0},
      {"printer = 'Office 2', copies = 2", "Office 2", 2, 0, 0, 0},
      {"printer=\"Office 2\",copies=2", "Office 2", 2, 0, 0, 0},
      {"copies=2", "lp0", 2, 0, 0, 0},
      {"copies=2 ,", "lp0", 2, 0, 0, 0},
      {"PRINTER=lp1", "lp1", 1, 0, 0, 0},
      {"printer='it''s'", "it's", 1, 0, 0, 0},
      {"printer='it''''s'", "it's", 1, 0, 0, 0},
      {"printer='a,b'", "a,b", 1, 0, 0, 0},
      {"printer='a' 'b'", "a' 'b", 1, 0, 0, 0},
      {"printer=\"\"", "\"", 1, 0, 0, 0},
      {"copies=3,printer='abc", "lp0", 3, 0, 0, 0},
      {"copies=x", "lp0", 1, 0, 0, 0},
      {"copies=0", "lp0", 1, 0, 0, 0},
      {"copies=-1", "lp0", -1, 0, 0, 0},
      {"copies=3rd", "lp0", 3, 0, 0, 0},
      {"copies= +7", "lp0", 7, 0, 0, 0},
      {"copies=99999999999", "lp0", 2147483647, 0, 0, 0},
      {"word,copies=2", "lp0", 1, 0, 0, 0},
      {"a=1,,copies=2", "lp0", 1, 0, 0, 0},
      {"a=,copies=2", "lp0", 1, 0, 0, 0},
      {"copies=2,printer=", "lp0", 2, 0, 0, 0},
      {"   ", "lp0", 1, 0, 0, 0},
      {"no options here", "lp0", 1, 0, 0, 0},
      {"frompage=3,TOPAGE=5,Orientation=1", "lp0", 1, 3, 5, 1},
      {"copies=2,copies=5,printer=a,printer=b", "a", 2, 0, 0, 0},
      {"colour=1,printer=lp9", "lp9", 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    JobValues job;
    job.printerName = "lp0";
    ApplyPrintOptions(c.text, &job);
    EXPECT_EQ(job.printerName, c.printer);
    EXPECT_EQ(job.copies, c.copies);
    EXPECT_EQ(job.fromPage, c.fromPage);
    EXPECT_EQ(job.toPage, c.toPage);
    EXPECT_EQ(job.orientation, c.orientation);
  }
}

TEST(ApplyPrintOptions, ARunOfEqualQuotesReachesTheJobAsOneIn32) {
  for (int k : {1, 2, 3, 31, 32, 33, 64, 65, 100}) {
    for (char q : {'\'', '"'}) {
      SCOPED_TRACE(std::to_string(k) + q);
      std::string text = "printer=a" + std::string(k, q) + "b";
      JobValues job;
      ApplyPrintOptions(text.c_str(), &job);
      EXPECT_EQ(job.printerName, "a" + std::string((k + 31) / 32, q) + "b");
    }
  }
}

}  // namespace
}  // namespace kavelo::service
