#include "printcontrol/render/string_list.h"

#include <string>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

TEST(StringListTest, TypeTextChoosesTheKind) {
  struct Case {
    const char* typeText;
    int kind;
  } cases[] = {{"string1", 1}, {"string2", 2}, {"string3", 0},
               {"String1", 0}, {"", 0},        {nullptr, 0}};
  for (const Case& c : cases) {
    StringList list(c.typeText);
    EXPECT_EQ(c.kind, list.kind()) << (c.typeText ? c.typeText : "(null)");
  }
}

TEST(StringListTest, OtherKindIgnoresEveryOperation) {
  StringList list("string3");
  EXPECT_EQ(0, list.Push("a"));
  list.Append("text");
  list.AppendChar('x');
  EXPECT_EQ(0, list.Count());
  EXPECT_EQ(nullptr, list.Item(0));
  EXPECT_EQ(nullptr, list.Text());
  EXPECT_EQ(-1, list.IndexOf("a"));
  EXPECT_EQ(0, list.PushUnique("a"));
}

TEST(StringListTest, TextKindAppends) {
  StringList text("string1");
  EXPECT_EQ(nullptr, text.Text());
  EXPECT_EQ(0, text.Length());
  text.Append(nullptr);
  text.Append("");
  text.AppendChar('\0');
  EXPECT_EQ(nullptr, text.Text()) << "empty appends must not create the text";
  text.Append("ab");
  text.AppendChar('c');
  text.Append("def", 2);
  ASSERT_NE(nullptr, text.Text());
  EXPECT_STREQ("abcde", text.Text());
  EXPECT_EQ(5, text.Length());
  // The list kind's operations do nothing on a text.
  EXPECT_EQ(0, text.Push("x"));
  EXPECT_EQ(nullptr, text.Item(0));
}

TEST(StringListTest, TextKindGrowsWithSlackAndKeepsContent) {
  StringList text("string1");
  text.Append("x");
  // First block: (0 + 1 + 1) + 1 + 1024 bytes.
  EXPECT_EQ(1 + 1 + 1 + 1024, text.capacity());
  int firstCapacity = text.capacity();
  const char* firstBlock = text.Text();
  std::string expected = "x";
  // Small appends stay in the block until it is outgrown.
  while (expected.size() + 2 < static_cast<size_t>(firstCapacity)) {
    text.AppendChar('y');
    expected += 'y';
  }
  EXPECT_EQ(firstBlock, text.Text());
  std::string big(5000, 'z');
  text.Append(big.c_str());
  expected += big;
  EXPECT_EQ(expected, text.Text());
  EXPECT_EQ(static_cast<int>(expected.size()), text.Length());
  EXPECT_GE(text.capacity(), text.Length() + 1 + 1024);
}

TEST(StringListTest, PushOf51TextsKeepsAllInOrder) {
  StringList list("string2");
  for (int i = 0; i < 51; ++i) {
    EXPECT_EQ(i + 1, list.Push(std::to_string(i).c_str()));
  }
  EXPECT_EQ(100, list.capacity()) << "grows in steps of 50 slots";
  ASSERT_EQ(51, list.Count());
  for (int i = 0; i < 51; ++i) EXPECT_EQ(std::to_string(i), list.Item(i));
  EXPECT_EQ(nullptr, list.Item(51));
  EXPECT_EQ(nullptr, list.Item(-1));
}

TEST(StringListTest, ItemsAreCopiesThatSurviveGrowth) {
  StringList list("string2");
  char buffer[8] = "first";
  list.Push(buffer);
  const char* first = list.Item(0);
  buffer[0] = 'X';
  for (int i = 0; i < 120; ++i) list.Push("more");
  EXPECT_EQ(first, list.Item(0));
  EXPECT_STREQ("first", first);
  EXPECT_EQ(121, list.Push(nullptr)) << "null is ignored and the count returned";
}

TEST(StringListTest, UniqueIsCaseSensitiveButIndexOfIgnoresCase) {
  StringList list("string2");
  list.Push("abc");
  EXPECT_EQ(0, list.IndexOf("ABC"));
  EXPECT_EQ(-1, list.IndexOf(""));
  EXPECT_EQ(-1, list.IndexOf(nullptr));
  EXPECT_EQ(-1, list.IndexOf("ab"));
  EXPECT_EQ(0, list.PushUnique("abc"));
  EXPECT_EQ(2, list.PushUnique("ABC"));
  EXPECT_EQ(0, list.PushUnique("ABC"));
  EXPECT_EQ(2, list.Count());
}

TEST(StringListTest, PopAppendAllAndClear) {
  StringList a("string2");
  StringList b("string2");
  a.Push("1");
  b.Push("2");
  b.Push("3");
  a.AppendAll(b);
  a.AppendAll(a);
  ASSERT_EQ(6, a.Count());
  const char* expected[] = {"1", "2", "3", "1", "2", "3"};
  for (int i = 0; i < 6; ++i) EXPECT_STREQ(expected[i], a.Item(i));
  a.PopLast();
  EXPECT_EQ(5, a.Count());
  EXPECT_STREQ("2", a.Item(4));
  a.Clear();
  EXPECT_EQ(0, a.Count());
  EXPECT_EQ(0, a.capacity());
  EXPECT_EQ(2, a.kind());
  a.PopLast();  // on an empty list: nothing
  EXPECT_EQ(1, a.Push("again"));

  StringList text("string1");
  text.Append("abc");
  text.Clear();
  EXPECT_EQ(nullptr, text.Text());
  EXPECT_EQ(0, text.Length());
  text.Append("d");
  EXPECT_STREQ("d", text.Text());
}

}  // namespace
}  // namespace kavelo::printcontrol
