#include "platform/standby_process.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testsupport/temp_dir.h"
#include "testsupport/wait.h"

namespace kavelo::platform {
namespace {

using Strings = std::vector<std::string>;

// Feeds text to ReceiveStandbyRequest as this process's standard input.
int Receive(const std::string& text, Strings* args) {
  int saved = ::dup(0);
  int fds[2];
  if (saved < 0 || ::pipe(fds) != 0) return -9;
  // Below the pipe's capacity: written in full before it is read.
  const bool written = ::write(fds[1], text.data(), text.size()) == ssize_t(text.size());
  ::close(fds[1]);
  ::dup2(fds[0], 0);
  ::close(fds[0]);
  const int result = written ? ReceiveStandbyRequest(args) : -9;
  ::dup2(saved, 0);
  ::close(saved);
  return result;
}

// What the program in standby does with a request: 1 with its arguments
// and environment entries set, 0 for an empty input, -1 for anything a
// caller cannot have sent.
TEST(StandbyRequestTest, ARequestArrivesWholeOrIsRefused) {
  struct Case {
    const char* name;
    std::string text;
    int result;
    Strings args;
  };
  const std::string good = FormatStandbyRequest(
      {"/opt/Ostrevo", "", "xml=/s/1.xml;printerName=Lab Printer"}, {"KAVELO_STANDBY_T=a=b c"});
  const Case cases[] = {
      {"a job", good, 1, {"/opt/Ostrevo", "", "xml=/s/1.xml;printerName=Lab Printer"}},
      {"let go", "", 0, {}},
      {"no end", std::string("1\0a", 3), -1, {}},
      {"no count", std::string("x\0a\0", 4), -1, {}},
      {"no arguments", std::string("0\0", 2), -1, {}},
      {"fewer arguments than counted", std::string("3\0a\0b\0", 6), -1, {}},
      {"an entry without a name", std::string("1\0a\0=x\0", 7), -1, {}},
      {"an entry without a value", std::string("1\0a\0NAME\0", 9), -1, {}},
      {"oversized", std::string("1\0", 2) + std::string(kMaxStandbyRequest, 'a') + '\0', -1, {}},
  };
  ASSERT_NE(good, "");
  for (const Case& c : cases) {
    ::unsetenv("KAVELO_STANDBY_T");
    Strings args;
    // The oversized text does not fit into a pipe at once: it is refused by
    // its parse alone.
    if (c.text.size() > kMaxStandbyRequest) {
      Strings environment;
      EXPECT_FALSE(ParseStandbyRequest(c.text, &args, &environment)) << c.name;
      continue;
    }
    EXPECT_EQ(Receive(c.text, &args), c.result) << c.name;
    if (c.result == 1) {
      EXPECT_EQ(args, c.args) << c.name;
      EXPECT_STREQ(::getenv("KAVELO_STANDBY_T"), "a=b c") << c.name;
    } else {
      EXPECT_EQ(::getenv("KAVELO_STANDBY_T"), nullptr) << c.name;
    }
  }
  ::unsetenv("KAVELO_STANDBY_T");
  EXPECT_EQ(FormatStandbyRequest({}, {}), "");
  EXPECT_EQ(FormatStandbyRequest({"a"}, {"NOVALUE"}), "");
  EXPECT_EQ(FormatStandbyRequest({std::string(kMaxStandbyRequest, 'a')}, {}), "");
}

class StandbyProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program copies its input to PROGRAM.request and ends; the quick
    // one ends at once without reading.
    Write(program_, "cat > \"$0.request\"\n");
    Write(quick_, "exit 0\n");
  }
  static void Write(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
  }
  std::string Request() const {
    std::ifstream in(program_ + ".request");
    std::stringstream text;
    text << in.rdbuf();
    return in.is_open() ? text.str() : "(none)";
  }

  testsupport::TempDir work_;
  std::string program_ = work_.File("control");
  std::string quick_ = work_.File("quick");
};

// The work goes to the waiting program only when it is the program the
// work names, inside the limits it asks for, and still waits; otherwise
// the waiting program is let go (its input ends empty) and the caller
// starts the work itself.
TEST_F(StandbyProcessTest, TheWaitingProgramTakesOnlyItsOwnWork) {
  ResourceLimits limits;
  limits.addressSpaceBytes = 1ull << 32;
  ResourceLimits other = limits;
  other.addressSpaceBytes = 1ull << 33;
  struct Case {
    const char* name;
    bool quick;  // the waiting program has ended before
    std::string workProgram;
    ResourceLimits workLimits;
    bool handed;
  };
  const Case cases[] = {
      {"its work", false, program_, limits, true},
      {"another program", false, quick_, limits, false},
      {"other limits", false, program_, other, false},
      {"ended before", true, quick_, limits, false},
  };
  for (const Case& c : cases) {
    ::unlink((program_ + ".request").c_str());
    StandbyProcess standby;
    ASSERT_EQ(standby.Prepare(c.quick ? quick_ : program_, limits), 0) << c.name;
    if (c.quick) {
      // It has ended once it is a zombie (only the caller reaps it).
      const std::string stat = "/proc/" + std::to_string(standby.pid()) + "/stat";
      ASSERT_TRUE(testsupport::WaitUntil(5000, [&] {
        std::string text;
        std::getline(std::ifstream(stat), text);
        return text.find(") Z ") != std::string::npos;
      })) << c.name;
    }
    const Strings args = {c.workProgram, "xml=/s/1.xml"};
    Process process;
    EXPECT_EQ(standby.Hand(args, c.workLimits, {"KAVELO_JOB_NUMBER=7"}, &process), c.handed)
        << c.name;
    EXPECT_FALSE(standby.waiting()) << c.name;
    if (c.handed) {
      int exitCode = -1;
      ASSERT_EQ(process.Wait(5000, &exitCode), 0) << c.name;
      EXPECT_EQ(exitCode, 0) << c.name;
      EXPECT_EQ(Request(), FormatStandbyRequest(args, {"KAVELO_JOB_NUMBER=7"})) << c.name;
    } else {
      EXPECT_FALSE(process.IsValid()) << c.name;
      // Let go with an empty input (the quick one never read it).
      EXPECT_EQ(Request(), c.quick ? "(none)" : "") << c.name;
    }
  }
  // A stop lets the waiting program go at once.
  ::unlink((program_ + ".request").c_str());
  StandbyProcess standby;
  ASSERT_EQ(standby.Prepare(program_, limits), 0);
  EXPECT_TRUE(standby.waiting());
  standby.End();
  EXPECT_FALSE(standby.waiting());
  EXPECT_EQ(Request(), "");
}

}  // namespace
}  // namespace kavelo::platform
