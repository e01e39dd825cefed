#include "service/host/diagnostic_log.h"

#include <stdlib.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/exceptions.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::service {
namespace {

class DiagnosticLogTest : public ::testing::Test {
 protected:
  // The file's lines, each of which must end in CR LF.
  std::vector<std::string> Lines() {
    std::string text = testsupport::ReadFile(path_);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "line without CR LF: " << text.substr(start);
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // Checks "DD/MM/YYYY HH:MM:SS : text" with a local time stamp of now.
  static void ExpectLine(const std::string& line, const std::string& text) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"((\d\d/\d\d/\d{4} \d\d:\d\d:\d\d) : (.*))")))
        << line;
    EXPECT_EQ(m[2], text);
    tm stamp{};
    ASSERT_NE(strptime(m[1].str().c_str(), "%d/%m/%Y %H:%M:%S", &stamp), nullptr);
    stamp.tm_isdst = -1;
    double age = difftime(time(nullptr), mktime(&stamp));
    EXPECT_GE(age, -1);
    EXPECT_LE(age, 10) << line;
  }

  testsupport::TempDir temp_{"kavelo-diaglog"};
  const std::string dir_ = temp_.path();
  std::string path_ = dir_ + "/Brelvane";
};

TEST_F(DiagnosticLogTest, TwoWritesGiveThreeLinesAndCloseAFourth) {
  DiagnosticLog log;
  log.SetPath(path_.c_str());
  EXPECT_FALSE(log.IsOpen());
  EXPECT_NE(access(path_.c_str(), F_OK), 0) << "the file is made by the first Write";
  ASSERT_TRUE(log.Write("first text"));
  ASSERT_TRUE(log.Write("second: 100% done"));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  ExpectLine(lines[0], "*** Log Opened ***");
  ExpectLine(lines[1], "first text");
  ExpectLine(lines[2], "second: 100% done");

  log.Close();
  EXPECT_FALSE(log.IsOpen());
  lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  ExpectLine(lines[3], "*** Log Closed ***");
  log.Close();  // closing a closed log writes nothing
  EXPECT_EQ(Lines().size(), 4u);
}

TEST_F(DiagnosticLogTest, OpeningReplacesAnyEarlierFile) {
  std::ofstream(path_) << "old content that must go\r\nmore\r\n";
  DiagnosticLog log;
  log.SetPath(path_.c_str());
  ASSERT_TRUE(log.Write("one"));
  log.Close();
  ASSERT_TRUE(log.Write("after reopening"));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  ExpectLine(lines[0], "*** Log Opened ***");
  ExpectLine(lines[1], "after reopening");
}

TEST_F(DiagnosticLogTest, DestroyingAnOpenLogClosesIt) {
  {
    DiagnosticLog log;
    log.SetPath(path_.c_str());
    ASSERT_TRUE(log.Write("only"));
  }
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  ExpectLine(lines[2], "*** Log Closed ***");
}

TEST_F(DiagnosticLogTest, AFileThatCannotBeMadeFailsUntilItCan) {
  DiagnosticLog log;
  EXPECT_FALSE(log.Write("no path yet"));
  const std::string path = dir_ + "/sub/log";
  log.SetPath(path.c_str());
  EXPECT_FALSE(log.Write("folder missing"));
  EXPECT_FALSE(log.IsOpen());
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0755), 0);
  EXPECT_TRUE(log.Write("folder there"));
  log.Close();
  path_ = path;
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  ExpectLine(lines[1], "folder there");
}

TEST_F(DiagnosticLogTest, NullAndEmptyArgumentsThrow) {
  DiagnosticLog log;
  EXPECT_THROW(log.SetPath(nullptr), NullPointerException);
  EXPECT_THROW(log.SetPath(""), IllegalArgumentException);
  log.SetPath(path_.c_str());
  EXPECT_THROW(log.Write(nullptr), NullPointerException);
  EXPECT_THROW(log.Write(""), IllegalArgumentException);
  EXPECT_NE(access(path_.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace kavelo::service
