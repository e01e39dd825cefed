#include "platform/sysinfo.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "platform/process.h"
#include "testsupport/temp_dir.h"

namespace kavelo::platform {
namespace {

TEST(SysInfoTest, ProgramPathIsThisTestProgram) {
  char expected[PATH_MAX];
  ASSERT_NE(realpath(KAVELO_BIN_DIR "/platform_tests", expected), nullptr);
  EXPECT_EQ(ProgramPath(), expected);
}

TEST(SysInfoTest, NamesAreThoseOfTheMachineAndUser) {
  EXPECT_FALSE(UserName().empty());
  if (geteuid() == 0) {
    EXPECT_EQ(UserName(), "root");
  }
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(ComputerName(), host);
}

TEST(SysInfoTest, GuidsAreFreshVersionFourInRegistryForm) {
  const std::regex form(
      "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    std::string guid = NewGuidText();
    ASSERT_TRUE(std::regex_match(guid, form)) << guid;
    ASSERT_TRUE(seen.insert(guid).second) << "repeated " << guid;
  }
}

TEST(SysInfoTest, ErrorTextNamesTheError) {
  EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(ErrorText(EACCES), "Permission denied");
  EXPECT_FALSE(ErrorText(99999).empty());
}

// glibc keeps a locale loaded through LOCPATH cached for the life of the
// process (LeakSanitizer counts it as a leak), so each query runs in a child
// that ends with _exit.
int MeasurementSystemInChild() {
  pid_t pid = fork();
  if (pid == 0) _exit(MeasurementSystem());
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The measurement system follows LC_MEASUREMENT of the environment.  The
// locales are compiled into a private folder (LOCPATH) so that the test
// does not depend on the machine's installed locales.
TEST(SysInfoTest, MeasurementSystemFollowsTheLocale) {
  testsupport::TempDir locales("kavelo-locale");
  const std::string dir = locales.path();
  struct Case {
    const char* locale;
    int system;
  };
  const Case cases[] = {{"en_US", 1}, {"de_DE", 0}};
  // Compiled side by side: a locale takes seconds.
  Process compilers[2];
  for (int i = 0; i < 2; ++i) {
    std::string name = std::string(cases[i].locale) + ".ISO-8859-1";
    if (compilers[i].Start(
            {"localedef", "-i", cases[i].locale, "-f", "ISO-8859-1", dir + "/" + name}, true) !=
        0) {
      GTEST_SKIP() << "localedef is not available";
    }
  }
  for (int i = 0; i < 2; ++i) {
    int code = -1;
    ASSERT_EQ(compilers[i].Wait(120000, &code), 0);
    if (code != 0) GTEST_SKIP() << "locale " << cases[i].locale << " cannot be compiled";
  }
  setenv("LOCPATH", dir.c_str(), 1);
  unsetenv("LC_ALL");
  for (const Case& c : cases) {
    setenv("LC_MEASUREMENT", (std::string(c.locale) + ".ISO-8859-1").c_str(), 1);
    EXPECT_EQ(MeasurementSystemInChild(), c.system) << c.locale;
  }
  setenv("LC_MEASUREMENT", "C", 1);
  EXPECT_EQ(MeasurementSystemInChild(), 0);
  unsetenv("LC_MEASUREMENT");
  unsetenv("LOCPATH");
}

}  // namespace
}  // namespace kavelo::platform
