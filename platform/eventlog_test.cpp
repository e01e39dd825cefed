#include "platform/eventlog.h"

#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include "testsupport/event_log_capture.h"
#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_registry.h"

namespace kavelo::platform {
namespace {

const MessageEntry kTestMessages[] = {
    {1, "Plain text.\r\n"},          {2, "Value (%1) and %2.\r\n"},   {3, "Waiting for %1\r\n"},
    {4, "Line one\r\nLine two\r\n"}, {5, "Job %1 of the queue.\r\n"},
};

using testsupport::ReadFile;
using testsupport::ReadLines;

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageTable(kTestMessages, sizeof kTestMessages / sizeof kTestMessages[0]);
  }
  testsupport::EventLogCapture log_{"kavelo-eventlog"};
  const std::string dir_ = log_.dir();
  const std::string logPath_ = log_.path();
};

TEST_F(EventLogTest, FormatsMessagesFromTheTable) {
  struct Case {
    uint32_t id;
    std::vector<std::string> strings;
    std::string expected;
  };
  const Case cases[] = {
      {1, {}, "Plain text."},
      {2, {"a", "b"}, "Value (a) and b."},
      // An insertion text is not expanded again.
      {2, {"%2", "x"}, "Value (%2) and x."},
      // A marker without its insertion text stays as it is.
      {3, {}, "Waiting for %1"},
      // Only the trailing line end is dropped.
      {4, {}, "Line one\r\nLine two"},
      {5, {"3"}, "Job 3 of the queue."},
      // A line end of the insertion text itself stays.
      {3, {"input\r\n"}, "Waiting for input\r\n"},
      {5, {""}, "Job  of the queue."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatEventMessage(c.id, c.strings), c.expected) << "id " << c.id;
  }
  std::string unknown = FormatEventMessage(77, {"x"});
  EXPECT_NE(unknown.find("77"), std::string::npos) << unknown;
}

TEST_F(EventLogTest, RegisterGivesAHandleForAnySourceName) {
  auto known = RegisterEventSource("", "Brelvane");
  ASSERT_NE(known, nullptr);
  EXPECT_EQ(known->name(), "Brelvane");
  EXPECT_NE(RegisterEventSource("", "NeverInstalledSource"), nullptr);
  EXPECT_NE(RegisterEventSource("localhost", "Brelvane"), nullptr);
  EXPECT_EQ(RegisterEventSource("", ""), nullptr);
  EXPECT_EQ(RegisterEventSource("\\\\some-other-server.invalid", "Brelvane"), nullptr);
}

TEST_F(EventLogTest, ReportAppendsOneJsonLineInTheFixedShape) {
  auto source = RegisterEventSource("", "Brelvane");
  ASSERT_TRUE(ReportEvent(source.get(), EventType::kError, 0, 2, {"one", "two"}));
  ASSERT_TRUE(ReportEvent(source.get(), EventType::kWarning, 0, 1, {}));
  ASSERT_TRUE(ReportEvent(source.get(), EventType::kInformation, 0, 5, {"3"}));
  std::string all = ReadFile(logPath_);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back(), '\n');
  std::vector<std::string> lines = ReadLines(logPath_);
  ASSERT_EQ(lines.size(), 3u);
  const std::string time = R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z",)";
  EXPECT_TRUE(std::regex_match(
      lines[0],
      std::regex(time + R"("source":"Brelvane","type":"error","id":2,)"
                        R"("strings":\["one","two"\],"message":"Value \(one\) and two\."\})")))
      << lines[0];
  EXPECT_TRUE(
      std::regex_match(lines[1], std::regex(time + R"("source":"Brelvane","type":"warning","id":1,)"
                                                   R"("strings":\[\],"message":"Plain text\."\})")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(
      lines[2], std::regex(time + R"("source":"Brelvane","type":"information","id":5,)"
                                  R"("strings":\["3"\],"message":"Job 3 of the queue\."\})")))
      << lines[2];
}

TEST_F(EventLogTest, TimeIsUtcNow) {
  auto source = RegisterEventSource("", "Brelvane");
  // The same clock the event log reads: time() uses the coarse clock, which
  // can stand a tick behind it.
  auto now = [] {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
  };
  time_t before = now();
  ASSERT_TRUE(ReportEvent(source.get(), EventType::kInformation, 0, 1, {}));
  time_t after = now();
  std::vector<std::string> lines = ReadLines(logPath_);
  ASSERT_EQ(lines.size(), 1u);
  tm stamp{};
  ASSERT_NE(strptime(lines[0].c_str() + 9, "%Y-%m-%dT%H:%M:%S", &stamp), nullptr) << lines[0];
  time_t reported = timegm(&stamp);
  EXPECT_GE(reported, before);
  EXPECT_LE(reported, after);
}

TEST_F(EventLogTest, TextsAreEscapedSoTheLineStaysValidJson) {
  struct Case {
    std::string text;
    std::string json;  // the string as it must appear between the quotes
  };
  const Case cases[] = {
      {"say \"hi\"", R"(say \"hi\")"},
      {"C:\\dir\\file", R"(C:\\dir\\file)"},
      {"a\r\nb\tc", R"(a\r\nb\tc)"},
      {std::string("nul\0x", 5), R"(nul\u0000x)"},
      {"\x01\x1f\x7f", R"(\u0001\u001f\u007f)"},
      // ISO 8859-1 bytes become their code points in UTF-8.
      {"caf\xe9 \xff\xa0", "caf\xc3\xa9 \xc3\xbf\xc2\xa0"},
      {"</script>", "</script>"},
  };
  auto source = RegisterEventSource("", "Src \"quoted\"");
  for (const Case& c : cases) {
    ASSERT_EQ(unlink(logPath_.c_str()) == 0 || errno == ENOENT, true);
    ASSERT_TRUE(ReportEvent(source.get(), EventType::kInformation, 0, 3, {c.text}));
    std::vector<std::string> lines = ReadLines(logPath_);
    ASSERT_EQ(lines.size(), 1u);
    std::string expected = R"("source":"Src \"quoted\"","type":"information","id":3,"strings":[")" +
                           c.json + R"("],"message":"Waiting for )" + c.json + "\"}";
    ASSERT_GE(lines[0].size(), expected.size());
    EXPECT_EQ(lines[0].substr(lines[0].size() - expected.size()), expected);
  }
}

TEST_F(EventLogTest, NullSourceReportsNothing) {
  EXPECT_FALSE(ReportEvent(nullptr, EventType::kError, 0, 1, {}));
  EXPECT_NE(access(logPath_.c_str(), F_OK), 0);
}

TEST_F(EventLogTest, UnwritableFileStillReachesSyslog) {
  setenv("KAVELO_EVENTLOG", (dir_ + "/missing/dir/events.jsonl").c_str(), 1);
  auto source = RegisterEventSource("", "Brelvane");
  EXPECT_TRUE(ReportEvent(source.get(), EventType::kError, 0, 1, {}));
}

// What syslog receives: a child process gets a private /dev (a mount
// namespace of its own, so the machine's /dev/log is never touched), listens
// on /dev/log there, reports two events and checks the datagrams.  Exit
// codes: 0 pass, 77 no namespace (not privileged), others name the check
// that failed.
int SyslogChild() {
  if (unshare(CLONE_NEWNS) != 0) return 77;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
  if (mount("tmpfs", "/dev", "tmpfs", 0, nullptr) != 0) return 77;
  int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, "/dev/log");
  if (sock < 0 || bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 2;
  timeval limit{5, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

  auto ostrevo = RegisterEventSource("", "Ostrevo");
  auto brelvane = RegisterEventSource("", "Brelvane");
  ReportEvent(ostrevo.get(), EventType::kError, 0, 2, {"x", "y"});
  ReportEvent(brelvane.get(), EventType::kInformation, 0, 5, {"3"});
  ReportEvent(brelvane.get(), EventType::kWarning, 0, 1, {});
  const std::string pid = "[" + std::to_string(getpid()) + "]: ";
  // <facility * 8 + priority>: daemon is 3; err 3, info 6, warning 4.
  const std::string expected[] = {
      "<27>", "Ostrevo" + pid + "event 2: Value (x) and y.",
      "<30>", "Brelvane" + pid + "event 5: Job 3 of the queue.",
      "<28>", "Brelvane" + pid + "event 1: Plain text.",
  };
  for (int i = 0; i < 3; ++i) {
    char buffer[2048] = {};
    ssize_t n = recv(sock, buffer, sizeof buffer - 1, 0);
    if (n <= 0) return 10 + i;
    std::string datagram(buffer, static_cast<size_t>(n));
    if (datagram.compare(0, 4, expected[2 * i]) != 0) return 20 + i;
    const std::string& tail = expected[2 * i + 1];
    if (datagram.size() < tail.size() ||
        datagram.compare(datagram.size() - tail.size(), tail.size(), tail) != 0) {
      fprintf(stderr, "datagram: %s\n", datagram.c_str());
      return 30 + i;
    }
  }
  return 0;
}

TEST_F(EventLogTest, SyslogGetsTheSourceFacilityPriorityAndText) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(SyslogChild());
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace (needs root)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check " << WEXITSTATUS(status);
}

// Lines are whole however many threads and processes append at once: each
// line must be one of the reported events, every event must be there once.
TEST_F(EventLogTest, ConcurrentReportersWriteWholeLines) {
  constexpr int kProcesses = 3;
  constexpr int kThreads = 4;
  constexpr int kReports = 150;
  const std::string padding(3000, 'p');  // lines far beyond PIPE_BUF
  auto reportAll = [&](int process) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        auto source = RegisterEventSource("", "Brelvane");
        for (int i = 0; i < kReports; ++i) {
          std::string tag = std::to_string(process) + "." + std::to_string(t) + "." +
                            std::to_string(i) + "." + padding;
          ReportEvent(source.get(), EventType::kInformation, 0, 3, {tag});
        }
      });
    }
    for (auto& th : threads) th.join();
  };
  std::vector<pid_t> children;
  for (int p = 1; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      reportAll(p);
      _exit(0);
    }
    children.push_back(pid);
  }
  reportAll(0);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<std::string> lines = ReadLines(logPath_);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kProcesses * kThreads * kReports));
  const std::regex time(R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z",)");
  const size_t timeLength = 35;
  std::set<std::string> seen;
  for (const std::string& line : lines) {
    ASSERT_GT(line.size(), timeLength);
    ASSERT_TRUE(std::regex_match(line.substr(0, timeLength), time)) << line.substr(0, 80);
    size_t tagStart = line.find("\"strings\":[\"");
    ASSERT_NE(tagStart, std::string::npos) << line.substr(0, 200);
    tagStart += 12;
    std::string tag = line.substr(
        tagStart, line.find('.', line.find('.', line.find('.', tagStart) + 1) + 1) - tagStart);
    std::string text = tag + "." + padding;
    std::string rest = R"("source":"Brelvane","type":"information","id":3,"strings":[")" + text +
                       R"("],"message":"Waiting for )" + text + "\"}";
    ASSERT_EQ(line.substr(timeLength), rest) << "line cut or mixed: " << line.substr(0, 200);
    EXPECT_TRUE(seen.insert(tag).second) << "twice: " << tag;
  }
  EXPECT_EQ(seen.size(), lines.size());
}

// The one registration of an event source that the service and the print
// control share: the key's status and the values' status apart, so that
// each caller can judge them by its own rule.
TEST(EventSourceRegistryTest, AddAndRemoveGiveTheRegistryStatus) {
  struct Case {
    const char* what;
    std::string name;
    bool usableRegistry;
    long key;
    bool registered;
  };
  const Case cases[] = {
      {"a plain name", "Brelvane", true, kErrorSuccess, true},
      {"an empty name", "", true, kErrorInvalidName, false},
      {"a name of two keys", "Brelvane\\Sub", true, kErrorInvalidName, false},
      {"a registry that cannot be written", "Brelvane", false, -1, false},
  };
  const std::string program = "/opt/kavelo/PrintService/Brelvane";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::TempRegistry registry;
    std::optional<testsupport::ScopedEnv> broken;
    if (!c.usableRegistry) {
      testsupport::WriteFile(registry.dir() + "/file", "x");
      broken.emplace("KAVELO_REGISTRY_DIR", registry.dir() + "/file");
    }
    EventSourceStatus status = AddEventSource(program, c.name, kEventTypesSupported);
    if (c.key >= 0) {
      EXPECT_EQ(status.key, c.key);
    } else {
      EXPECT_NE(status.key, kErrorSuccess);
    }
    EXPECT_EQ(status.values, kErrorSuccess);  // no value was written, or both were
    EXPECT_EQ(status.ok(), c.registered);
    bool found = false;
    EXPECT_EQ(testsupport::ReadTextValue(EventSourceKeyPath(c.name), "EventMessageFile", &found),
              c.registered ? program + '\0' : "");
    EXPECT_EQ(testsupport::ReadDwordValue(EventSourceKeyPath(c.name), "TypesSupported", &found),
              c.registered ? kEventTypesSupported : 0u);
    EXPECT_EQ(testsupport::KeyExists("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"),
              c.registered);
    if (c.registered) {
      EXPECT_EQ(RemoveEventSource(c.name), kErrorSuccess);
      EXPECT_FALSE(testsupport::KeyExists(EventSourceKeyPath(c.name)));
      EXPECT_EQ(RemoveEventSource(c.name), kErrorFileNotFound);
    } else {
      EXPECT_NE(RemoveEventSource(c.name), kErrorSuccess);
    }
  }
}

}  // namespace
}  // namespace kavelo::platform
