// The life of the real Brelvane service, run in the foreground as a child
// process: the start-up checks, the start and stop sequences, the status
// reports to systemd and the stop while a print control runs.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "service/test/brelvane_harness.h"

namespace kavelo::service_test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane";
constexpr const char* kParametersKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters";
// A non-root account: tests run as root in CI, and the service refuses root.
constexpr const char* kAccount = "nobody";

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  int port = ntohs(address.sin_port);
  close(fd);
  return port;
}

// True when a socket listens on the port (read from /proc, so that no
// probe connection reaches the service as a client).
bool IsListening(int port) {
  char local[16];
  std::snprintf(local, sizeof local, ":%04X ", port);
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::istringstream lines(ReadFile(table));
    std::string line;
    while (std::getline(lines, line)) {
      // "sl local_address rem_address st ...": state 0A is LISTEN.
      size_t at = line.find(local);
      if (at != std::string::npos && line.find(" 0A ", at) != std::string::npos) return true;
    }
  }
  return false;
}

bool HasEvent(const BrelvaneWorld& world, int id) {
  for (int seen : world.EventIds()) {
    if (seen == id) return true;
  }
  return false;
}

// Starts the service in the foreground and waits for message 1.
void StartService(const BrelvaneWorld& world, Child* child, const std::vector<std::string>& args,
                  bool withNotify, const std::vector<std::string>& extraEnvironment = {}) {
  std::vector<std::string> argv = {"Brelvane"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> environment = world.Environment(withNotify);
  environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
  ASSERT_TRUE(child->Start(BinPath("Brelvane"), argv, environment));
  ASSERT_TRUE(WaitUntil(30000, [&] { return HasEvent(world, 1); }))
      << ::testing::PrintToString(world.EventIds());
}

// A job as the intake would have queued it, for the print thread to find
// at start.
void PersistJob(const BrelvaneWorld& world, const std::string& name) {
  std::string app = world.printControl();
  std::string line = "\"" + app + "\" \"" + app + "\" xml=" + world.spoolDir() + "/" + name +
                     ".xml;xsl=" + world.spoolDir() + "/" + name +
                     ".xsl;fromPage=1;toPage=1;printerName=TestPrinter;copy=1;orien=1";
  WriteTextValue(std::string(kServiceKey) + "\\PrintQueue",
                 "{00000000-0000-4000-8000-00000000000" + name + "}", line);
}

TEST(BrelvaneLifecycleTest, RunsJobsUntilSigtermAndReportsItsLife) {
  BrelvaneWorld world;
  int port = FreePort();
  world.InstallConfigured(port, kAccount);
  PersistJob(world, "1");

  Child child;
  StartService(world, &child, {}, false);
  // The persisted job was re-queued and its print control started.
  ASSERT_TRUE(WaitUntil(
      10000, [&] { return ReadFile(world.printLog()).find("end") != std::string::npos; }));
  EXPECT_NE(ReadFile(world.printLog()).find("printerName=TestPrinter"), std::string::npos);

  // A job sent over the port reaches the print control as well.
  ASSERT_TRUE(WaitUntil(30000, [&] { return IsListening(port); }));
  WriteTextFile(world.root() + "/job.xml", "<report/>");
  WriteTextFile(world.root() + "/job.xsl", "<xsl:stylesheet/>");
  Child sender;
  ASSERT_TRUE(sender.Start(BinPath("kavelo-send"),
                           {"kavelo-send", "--port", std::to_string(port), "--options", "copies=2",
                            world.root() + "/job.xml", world.root() + "/job.xsl"},
                           world.Environment(false)));
  int sendExit = -1;
  ASSERT_TRUE(sender.Wait(20000, &sendExit));
  EXPECT_EQ(sendExit, 0) << sender.output();
  ASSERT_TRUE(WaitUntil(30000, [&] {
    std::string log = ReadFile(world.printLog());
    return log.find("copy=2") != std::string::npos;
  })) << ReadFile(world.printLog());
  std::string log = ReadFile(world.printLog());
  EXPECT_NE(log.find("xml=" + world.spoolDir() + "/"), std::string::npos) << log;

  child.Signal(SIGTERM);
  int exitCode = -1;
  ASSERT_TRUE(child.Wait(30000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  std::vector<LoggedEvent> events = world.Events();
  std::vector<int> ids;
  for (const LoggedEvent& event : events) {
    EXPECT_EQ(event.source, "Brelvane");
    ids.push_back(event.id);
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 18, 21, 3}));
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1].strings, std::vector<std::string>{"1"});
  EXPECT_EQ(events[2].strings, std::vector<std::string>{std::to_string(port)});
  EXPECT_EQ(events[0].type, "information");
  EXPECT_EQ(events[3].type, "information");
}

TEST(BrelvaneLifecycleTest, ReportsItsStatusToSystemdWithTheWaitHint) {
  struct Row {
    std::vector<std::string> args;
    const char* extend;
  } rows[] = {
      {{}, "EXTEND_TIMEOUT_USEC=30000000"},
      {{"-Hint", "90000"}, "EXTEND_TIMEOUT_USEC=90000000"},
      {{"-Hint"}, "EXTEND_TIMEOUT_USEC=30000000"},
  };
  for (const Row& row : rows) {
    BrelvaneWorld world;
    world.InstallConfigured(FreePort(), kAccount);
    NotifyReceiver notify(world.notifySocket());
    Child child;
    StartService(world, &child, row.args, true);
    EXPECT_EQ(notify.Next(20000), std::string("STATUS=Starting\n") + row.extend);
    EXPECT_EQ(notify.Next(20000), "READY=1");
    child.Signal(SIGINT);
    EXPECT_EQ(notify.Next(20000), std::string("STOPPING=1\n") + row.extend);
    EXPECT_EQ(notify.Next(20000), "STATUS=Stopped");
    int exitCode = -1;
    ASSERT_TRUE(child.Wait(30000, &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(notify.Next(100), "");
  }
}

TEST(BrelvaneLifecycleTest, StopDuringALongPrintWaitsForThePrintControl) {
  BrelvaneWorld world;
  world.InstallConfigured(FreePort(), kAccount);
  PersistJob(world, "1");
  PersistJob(world, "2");
  NotifyReceiver notify(world.notifySocket());
  Child child;
  StartService(world, &child, {"-Hint", "90000"}, true, {"FAKE_PRINT_SECONDS=2"});
  ASSERT_EQ(notify.Next(20000), "STATUS=Starting\nEXTEND_TIMEOUT_USEC=90000000");
  ASSERT_EQ(notify.Next(20000), "READY=1");
  ASSERT_TRUE(WaitUntil(30000, [&] { return !ReadFile(world.printLog()).empty(); }));

  child.Signal(SIGTERM);
  EXPECT_EQ(notify.Next(20000), "STOPPING=1\nEXTEND_TIMEOUT_USEC=90000000");
  child.Signal(SIGTERM);  // a second stop while stopping changes nothing
  // Stopped comes only after the print control has ended.
  std::string stopped = notify.Next(30000);
  EXPECT_EQ(stopped, "STATUS=Stopped");
  std::string log = ReadFile(world.printLog());
  EXPECT_NE(log.find("end"), std::string::npos) << log;
  int exitCode = -1;
  ASSERT_TRUE(child.Wait(30000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(notify.Next(100), "");
  // The second job was never started; it stays queued for the next start.
  EXPECT_EQ(log.find("start", log.find("start") + 1), std::string::npos) << log;
  EXPECT_TRUE(KeyExists(std::string(kServiceKey) + "\\PrintQueue"));
  std::vector<int> ids = world.EventIds();
  ASSERT_GE(ids.size(), 2u);
  EXPECT_EQ(ids[ids.size() - 2], 21);
  EXPECT_EQ(ids.back(), 3);
}

TEST(BrelvaneLifecycleTest, EachStartupCheckFailsAloneAndFirstFailureEndsThem) {
  struct Row {
    const char* name;
    std::function<void(BrelvaneWorld&)> breakIt;
    int message;
    std::vector<std::string> strings;  // of the check's message
  };
  std::string missingApp = "/nonexistent/Ostrevo";
  std::string missingSpool = "/nonexistent/spool";
  std::vector<Row> rows = {
      {"LocalSystem",
       [](BrelvaneWorld&) { WriteTextValue(kServiceKey, "ObjectName", "LocalSystem"); },
       12,
       {}},
      {"localsystem in any case",
       [](BrelvaneWorld&) { WriteTextValue(kServiceKey, "ObjectName", "lOcAlSyStEm"); },
       12,
       {}},
      {"root", [](BrelvaneWorld&) { WriteTextValue(kServiceKey, "ObjectName", "root"); }, 12, {}},
      {"empty account",
       [](BrelvaneWorld&) { WriteTextValue(kServiceKey, "ObjectName", ""); },
       12,
       {}},
      {"no default printer",
       [](BrelvaneWorld& w) { fs::remove(w.spoolerDir() + "/default"); },
       13,
       {}},
      {"default printer missing",
       [](BrelvaneWorld& w) { fs::remove_all(w.spoolerDir() + "/TestPrinter"); },
       14,
       {"TestPrinter"}},
      {"named printer lp0 missing",
       [](BrelvaneWorld&) { WriteDwordValue(kParametersKey, "UseDefaultPrinter", 0); },
       14,
       {"lp0"}},
      {"printer application missing",
       [&](BrelvaneWorld&) { WriteTextValue(kParametersKey, "PrinterApplication", missingApp); },
       15,
       {missingApp}},
      {"application and spool both missing: only the first check reports",
       [&](BrelvaneWorld&) {
         WriteTextValue(kParametersKey, "PrinterApplication", missingApp);
         WriteTextValue(kParametersKey, "SpoolerDirectory", missingSpool);
       },
       15,
       {missingApp}},
      {"spool directory missing",
       [&](BrelvaneWorld&) { WriteTextValue(kParametersKey, "SpoolerDirectory", missingSpool); },
       16,
       {missingSpool}},
      {"spool directory read-only",
       [](BrelvaneWorld& w) {
         fs::permissions(w.spoolDir(), fs::perms::owner_read | fs::perms::owner_exec);
       },
       16,
       {}},
      {"spool directory is a file",
       [](BrelvaneWorld& w) {
         WriteTextValue(kParametersKey, "SpoolerDirectory", w.printControl());
       },
       16,
       {}},
  };
  for (const Row& row : rows) {
    BrelvaneWorld world;
    world.InstallConfigured(FreePort(), kAccount);
    row.breakIt(world);
    NotifyReceiver notify(world.notifySocket());
    Child child;
    ASSERT_TRUE(child.Start(BinPath("Brelvane"), {"Brelvane"}, world.Environment(true)));
    int exitCode = -1;
    ASSERT_TRUE(child.Wait(30000, &exitCode)) << row.name;  // the process ends by itself
    EXPECT_EQ(exitCode, 1) << row.name;
    std::vector<LoggedEvent> events = world.Events();
    ASSERT_EQ(events.size(), 2u) << row.name << " " << ::testing::PrintToString(world.EventIds());
    EXPECT_EQ(events[0].id, row.message) << row.name;
    EXPECT_EQ(events[0].type, "error") << row.name;
    if (!row.strings.empty()) {
      EXPECT_EQ(events[0].strings, row.strings) << row.name;
    }
    EXPECT_EQ(events[1].id, 2) << row.name;
    EXPECT_EQ(notify.Next(20000), "STATUS=Starting\nEXTEND_TIMEOUT_USEC=30000000") << row.name;
    EXPECT_EQ(notify.Next(20000), "STATUS=Stopped") << row.name;  // never running
    EXPECT_FALSE(fs::exists(world.printLog())) << row.name;
    fs::permissions(world.spoolDir(), fs::perms::owner_all);
  }
}

TEST(BrelvaneLifecycleTest, DefaultPrinterWithALongNameIsFound) {
  BrelvaneWorld world;
  world.InstallConfigured(FreePort(), kAccount);
  std::string longName(200, 'P');
  fs::create_directories(world.spoolerDir() + "/" + longName);
  { std::ofstream(world.spoolerDir() + "/default", std::ios::trunc) << longName; }
  // The name does not fit the first request's buffer: message 1 shows that
  // the second, larger request found it.
  Child child;
  StartService(world, &child, {}, false);
  child.Signal(SIGTERM);
  int exitCode = -1;
  ASSERT_TRUE(child.Wait(30000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(world.EventIds(), (std::vector<int>{1, 21, 3}));
}

}  // namespace
}  // namespace kavelo::service_test
