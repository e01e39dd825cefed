#include "service/host/command_line.h"

#include <gtest/gtest.h>

namespace kavelo::service {
namespace {

TEST(CommandLineTest, TokensAreCutAtEveryDashAndSlash) {
  struct Row {
    const char* line;
    std::vector<std::string> tokens;
  } rows[] = {
      {"", {}},
      {"-RegServer", {"", "RegServer"}},
      {"/RegServer /Version", {"", "RegServer ", "Version"}},
      {"-Hint 90000 -Version", {"", "Hint 90000 ", "Version"}},
      {"--help", {"", "", "help"}},
      {"RegServer", {"RegServer"}},
      {"-Hint /tmp/x", {"", "Hint ", "tmp", "x"}},
  };
  for (const Row& row : rows) EXPECT_EQ(SplitCommandTokens(row.line), row.tokens) << row.line;
}

TEST(CommandLineTest, HintTokenAndValue) {
  struct Row {
    const char* token;
    bool isHint;
    bool changes;
    uint32_t waitHint;  // after reading, starting from 30000
  } rows[] = {
      {"Hint 60000", true, true, 60000},
      {"hint 60000 ", true, true, 60000},      // the blank before the next token
      {"HINTS  \t 90000", true, true, 90000},  // first four letters; blanks and tabs skipped
      {"Hint", true, false, 30000},
      {"Hint   ", true, false, 30000},
      {"Hint\t5000", true, false, 30000},  // a tab is not the blank that starts the value
      {"Hint abc", true, true, 0},         // no digits: 0
      {"Hint 12ab", true, true, 12},
      {"Hint +2147483647", true, true, 2147483647u},
      {"Hint 2147483648", true, false, 30000},  // does not fit: unchanged
      {"Hint 99999999999999999999", true, false, 30000},
      {"Hin 5000", false, true, 5000},
      {"Version", false, false, 30000},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsHintToken(row.token), row.isHint) << row.token;
    uint32_t waitHint = 30000;
    EXPECT_EQ(ReadHintValue(row.token, &waitHint), row.changes) << row.token;
    EXPECT_EQ(waitHint, row.waitHint) << row.token;
  }
}

}  // namespace
}  // namespace kavelo::service
