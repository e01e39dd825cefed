#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::platform {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLineTest, FollowsTheWindowsRuntimeRules) {
  struct Case {
    std::string line;
    Args args;
  };
  const Case cases[] = {
      {"", {}},
      {"  \t ", {}},
      {"prog", {"prog"}},
      {"  prog  a\tb  ", {"prog", "a", "b"}},
      {"\"abc\" d e", {"abc", "d", "e"}},
      {"prog a\\\\b d\"e f\"g h", {"prog", "a\\\\b", "de fg", "h"}},
      {"prog a\\\\\\\"b c d", {"prog", "a\\\"b", "c", "d"}},
      {"prog a\\\\\\\\\"b c\" d e", {"prog", "a\\\\b c", "d", "e"}},
      {"prog a\"b\"\" c d", {"prog", "ab\" c d"}},
      {"prog \"\" \"\"", {"prog", "", ""}},
      {"prog \"a b", {"prog", "a b"}},
      {"prog a\\", {"prog", "a\\"}},
      {"prog \"a\\\\\"", {"prog", "a\\"}},
      {"prog \\\"", {"prog", "\""}},
      // The program name: quotes group, backslashes are literal.
      {"\"/opt/my dir/prog\" x", {"/opt/my dir/prog", "x"}},
      {"dir\\\"a b\" c", {"dir\\a b", "c"}},
      {"\"a b\"c d", {"a bc", "d"}},
      // The job command line of the print control.
      {"\"/opt/kavelo/PrintService/Ostrevo\" \"/opt/kavelo/PrintService/Ostrevo\" "
       "xml=/s/00000001.xml;xsl=/s/00000001.xsl;printerName=Lab Printer;copy=1",
       {"/opt/kavelo/PrintService/Ostrevo", "/opt/kavelo/PrintService/Ostrevo",
        "xml=/s/00000001.xml;xsl=/s/00000001.xsl;printerName=Lab", "Printer;copy=1"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitCommandLine(c.line), c.args) << "line: [" << c.line << "]";
  }
}

TEST(JoinCommandLineTest, SplitGivesTheArgumentsBack) {
  const Args cases[] = {
      {"prog"},
      {"/opt/my dir/prog", "a b", ""},
      {"prog", "say \"hi\"", "tab\there"},
      {"prog", "trailing\\", "trailing space\\", "\\\\server\\share"},
      {"prog", "a\\\"b", "\"", "\"\"", "\\\\\""},
      {"C:\\Program Files\\x", "x"},
  };
  for (const Args& args : cases) {
    std::string line = JoinCommandLine(args);
    EXPECT_EQ(SplitCommandLine(line), args) << "line: [" << line << "]";
  }
}

using testsupport::ReadFile;

class ProcessTest : public ::testing::Test {
 protected:
  // Waits until the file holds a complete line; false after five seconds.
  static bool WaitForLine(const std::string& path, std::string* line) {
    for (int i = 0; i < 500; ++i) {
      std::string text = ReadFile(path);
      if (!text.empty() && text.back() == '\n') {
        *line = text.substr(0, text.size() - 1);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // True when the process no longer runs (gone, or a zombie left for init).
  static bool Ended(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
      std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
      size_t close = stat.rfind(')');
      if (stat.empty() || (close != std::string::npos && stat.compare(close + 2, 1, "Z") == 0))
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  testsupport::TempDir temp_{"kavelo-process"};
  const std::string dir_ = temp_.path();
};

TEST_F(ProcessTest, WaitTimesOutWhileRunningThenGivesTheExitCode) {
  Process p;
  ASSERT_EQ(p.Start("/bin/sh -c \"sleep 0.5; exit 7\""), 0);
  ASSERT_TRUE(p.IsValid());
  int code = -1;
  EXPECT_EQ(p.Wait(0, &code), kWaitTimeout);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(p.Wait(100, &code), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(100));
  EXPECT_EQ(p.Wait(10000, &code), 0);
  EXPECT_EQ(code, 7);
  // Waiting again gives the same result; the ended program is not killed.
  code = -1;
  EXPECT_EQ(p.Wait(kWaitInfinite, &code), 0);
  EXPECT_EQ(code, 7);
  EXPECT_EQ(p.Terminate(), ESRCH);
}

TEST_F(ProcessTest, InfiniteWaitReturnsWhenTheProgramEnds) {
  Process p;
  ASSERT_EQ(p.Start(Args{"/bin/sh", "-c", "exit 3"}), 0);
  int code = -1;
  EXPECT_EQ(p.Wait(kWaitInfinite, &code), 0);
  EXPECT_EQ(code, 3);
}

TEST_F(ProcessTest, TerminateKillsTheWholeProcessGroup) {
  const std::string pidFile = dir_ + "/grandchild";
  Process p;
  ASSERT_EQ(p.Start(Args{"/bin/sh", "-c", "sleep 60 & echo $! > " + pidFile + "; wait"}), 0);
  std::string line;
  ASSERT_TRUE(WaitForLine(pidFile, &line));
  pid_t grandchild = std::stoi(line);
  EXPECT_EQ(getpgid(grandchild), p.pid());
  EXPECT_EQ(p.Wait(50), kWaitTimeout);

  EXPECT_EQ(p.Terminate(), 0);
  int code = -1;
  EXPECT_EQ(p.Wait(10000, &code), 0);
  EXPECT_EQ(code, 128 + SIGKILL);
  EXPECT_TRUE(Ended(grandchild)) << "grandchild " << grandchild << " still runs";
}

TEST_F(ProcessTest, TerminateFromAnotherThreadEndsAWait) {
  Process p;
  ASSERT_EQ(p.Start(Args{"/bin/sleep", "60"}), 0);
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(p.Terminate(), 0);
  });
  int code = -1;
  EXPECT_EQ(p.Wait(kWaitInfinite, &code), 0);
  killer.join();
  EXPECT_EQ(code, 128 + SIGKILL);
}

TEST_F(ProcessTest, StartFailuresGiveTheErrorNumber) {
  const std::string script = dir_ + "/not-executable";
  std::ofstream(script) << "#!/bin/sh\nexit 0\n";
  chmod(script.c_str(), 0644);
  struct Case {
    std::string commandLine;
    int error;
  };
  const Case cases[] = {
      {"/nonexistent/program arg", ENOENT},
      {"\"" + dir_ + "/missing program\"", ENOENT},
      {"kavelo-no-such-program-anywhere", ENOENT},
      {script, EACCES},
      {"", EINVAL},
      {"\"\" x", EINVAL},
  };
  // The start inside limits (fork and exec) fails just as the plain one.
  ResourceLimits limits;
  limits.fileSizeBytes = 1 << 20;
  for (const Case& c : cases) {
    Process p;
    EXPECT_EQ(p.Start(c.commandLine), c.error) << c.commandLine;
    EXPECT_FALSE(p.IsValid()) << c.commandLine;
    Process limited;
    EXPECT_EQ(limited.Start(c.commandLine, false, limits), c.error) << c.commandLine;
    EXPECT_FALSE(limited.IsValid()) << c.commandLine;
  }
}

// Limits are in place before the program runs, as soft and hard limits (so
// that a program without privileges cannot raise them); a name without "/"
// is found along PATH.
TEST_F(ProcessTest, LimitsAreSetBeforeTheProgramRunsAsSoftAndHardLimits) {
  const std::string out = dir_ + "/limits";
  ResourceLimits limits;
  limits.addressSpaceBytes = 3ull << 30;
  limits.fileSizeBytes = 1 << 20;
  Process p;
  ASSERT_EQ(
      p.Start(Args{"sh", "-c", "head -c 2000000 /dev/zero > \"$0.big\"; echo $? > \"$0\"", out},
              false, limits),
      0);
  int code = -1;
  ASSERT_EQ(p.Wait(10000, &code), 0);
  // Writing past the file-size limit ends the writer with SIGXFSZ.
  EXPECT_EQ(ReadFile(out), std::to_string(128 + SIGXFSZ) + "\n");
  struct stat st = {};
  ASSERT_EQ(stat((out + ".big").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1 << 20);

  // The limits as the kernel holds them.
  Process held;
  ASSERT_EQ(held.Start(Args{"/bin/sleep", "30"}, false, limits), 0);
  std::string text = ReadFile("/proc/" + std::to_string(held.pid()) + "/limits");
  EXPECT_NE(text.find("Max address space         3221225472           3221225472"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Max file size             1048576              1048576"), std::string::npos)
      << text;
  EXPECT_EQ(held.Terminate(), 0);
  EXPECT_EQ(held.Wait(10000), 0);
}

TEST_F(ProcessTest, ProgramNameWithoutSlashIsFoundAlongPath) {
  Process p;
  ASSERT_EQ(p.Start("sh -c \"exit 5\""), 0);
  int code = -1;
  EXPECT_EQ(p.Wait(10000, &code), 0);
  EXPECT_EQ(code, 5);
}

TEST_F(ProcessTest, ArgumentsReachTheProgramUnchangedWithoutAShell) {
  const std::string out = dir_ + "/args";
  // $(...) and ; would do something in a shell; here they are plain text.
  const Args args = {"/bin/sh", "-c",  "for a; do printf '%s|' \"$a\"; done > \"$0\"",
                     out,       "a b", "$(touch " + dir_ + "/pwned); x",
                     "\"q\"",   ""};
  Process p;
  ASSERT_EQ(p.Start(JoinCommandLine(args)), 0);
  ASSERT_EQ(p.Wait(10000), 0);
  EXPECT_EQ(ReadFile(out), "a b|$(touch " + dir_ + "/pwned); x|\"q\"||");
  EXPECT_NE(access((dir_ + "/pwned").c_str(), F_OK), 0);
}

TEST_F(ProcessTest, ExtraEnvironmentEntriesAddOrReplaceVariables) {
  testsupport::ScopedEnv kept("KAVELO_PROCESS_KEPT", "kept");
  testsupport::ScopedEnv replaced("KAVELO_PROCESS_REPLACED", "old");
  const std::string out = dir_ + "/env";
  Process p;
  ASSERT_EQ(p.Start({"/bin/sh", "-c",
                     "echo \"$KAVELO_PROCESS_KEPT $KAVELO_PROCESS_REPLACED $KAVELO_PROCESS_NEW\" > \"$0\"",
                     out},
                    false, ResourceLimits{}, {"KAVELO_PROCESS_REPLACED=new", "KAVELO_PROCESS_NEW=7"}),
            0);
  ASSERT_EQ(p.Wait(10000), 0);
  EXPECT_EQ(ReadFile(out), "kept new 7\n");
}

// The program gets standard input from /dev/null, no other descriptor of
// ours, no blocked or ignored signals, and a process group of its own.
TEST_F(ProcessTest, ProgramStartsClean) {
  int leaked = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(leaked, 3);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &previous), 0);

  ResourceLimits limits;
  limits.fileSizeBytes = 1 << 30;
  for (int run = 0; run < 4; ++run) {
    const bool quiet = run % 2 == 1;
    const bool limited = run >= 2;  // the fork and exec path
    Process p;
    ASSERT_EQ(limited ? p.Start(Args{"/bin/sleep", "30"}, quiet, limits)
                      : p.Start(Args{"/bin/sleep", "30"}, quiet),
              0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // let it settle in sleep
    const std::string proc = "/proc/" + std::to_string(p.pid());

    std::set<std::string> fds;
    DIR* dir = opendir((proc + "/fd").c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') fds.insert(entry->d_name);
    }
    closedir(dir);
    EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2"})) << "quiet " << quiet;

    char target[256] = {};
    ASSERT_GT(readlink((proc + "/fd/0").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/null");
    if (quiet) {
      for (const char* fd : {"/fd/1", "/fd/2"}) {
        char out[256] = {};
        ASSERT_GT(readlink((proc + fd).c_str(), out, sizeof out - 1), 0);
        EXPECT_STREQ(out, "/dev/null") << fd;
      }
    }

    std::string status = ReadFile(proc + "/status");
    EXPECT_NE(status.find("SigBlk:\t0000000000000000"), std::string::npos) << status;
    // glibc keeps its own two internal real-time signals (32, 33) ignored in
    // the child; no standard signal may be.
    size_t ign = status.find("SigIgn:\t");
    ASSERT_NE(ign, std::string::npos);
    unsigned long long ignored = std::stoull(status.substr(ign + 8, 16), nullptr, 16);
    EXPECT_EQ(ignored & 0x7FFFFFFFull, 0u) << status.substr(ign, 24);
    EXPECT_EQ(getpgid(p.pid()), p.pid());

    EXPECT_EQ(p.Terminate(), 0);
    EXPECT_EQ(p.Wait(10000), 0);
  }
  sigaction(SIGPIPE, &previous, nullptr);
  close(leaked);
  close(pipeFds[0]);
  close(pipeFds[1]);
}

// A program asked to end with its starter is killed once the thread that
// started it ends; any other lives on.
TEST_F(ProcessTest, AProgramEndsWithItsStarterOnlyWhenAsked) {
  for (bool endsWithStarter : {true, false}) {
    Process p;
    int started = -1;
    std::thread starter([&] {
      ResourceLimits limits;
      limits.endsWithStarter = endsWithStarter;
      started = p.Start(Args{"/bin/sleep", "30"}, true, limits);
    });
    starter.join();
    ASSERT_EQ(started, 0);
    int exitCode = 0;
    if (endsWithStarter) {
      ASSERT_EQ(p.Wait(5000, &exitCode), 0);
      EXPECT_EQ(exitCode, 128 + SIGKILL);
    } else {
      EXPECT_EQ(p.Wait(300, &exitCode), kWaitTimeout);
      p.Terminate();
      p.Wait(5000);
    }
  }
}

TEST_F(ProcessTest, ReleasingTheHandleLeavesTheProgramRunning) {
  pid_t pid;
  {
    Process p;
    ASSERT_EQ(p.Start(Args{"/bin/sleep", "30"}), 0);
    pid = p.pid();
    Process moved(std::move(p));
    EXPECT_FALSE(p.IsValid());
    EXPECT_EQ(moved.pid(), pid);
  }
  EXPECT_EQ(kill(pid, 0), 0);
  kill(-pid, SIGKILL);
  int status;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
}

}  // namespace
}  // namespace kavelo::platform
