// The life of the real Brelvane service, run in the foreground as a child
// process: the start-up checks, the start and stop sequences, the status
// reports to systemd and the stop while a print control runs.
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "service/test/brelvane_harness.h"
#include "testsupport/text.h"

namespace kavelo::testsupport {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane";
constexpr const char* kParametersKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters";
// A non-root account: tests run as root in CI, and the service refuses root.
constexpr const char* kAccount = "nobody";

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
  WriteFile(world.root() + "/job.xml", "<report/>");
  WriteFile(world.root() + "/job.xsl", "<xsl:stylesheet/>");
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

// How often the print log holds text.
TEST(BrelvaneLifecycleTest, ASecondInstanceLeavesTheQueueAloneAndCommandsStillWork) {
  BrelvaneWorld world;
  int port = FreePort();
  world.InstallConfigured(port, kAccount);
  // Job 1 keeps the running service's print control busy while job 2 waits
  // in its queue, still persisted, with its spool files.
  PersistJob(world, "1");
  PersistJob(world, "2");
  std::string queueKey = std::string(kServiceKey) + "\\PrintQueue";
  std::string job2 = "{00000000-0000-4000-8000-000000000002}";
  std::string spooled = world.spoolDir() + "/2.xml";
  WriteFile(spooled, "<report/>");
  Child first;
  StartService(world, &first, {}, false, {"FAKE_PRINT_SECONDS=3"});
  ASSERT_TRUE(WaitUntil(10000, [&] { return !ReadFile(world.printLog()).empty(); }));
  ASSERT_TRUE(WaitUntil(30000, [&] { return IsListening(port); }));
  bool found = false;
  std::string persisted = ReadTextValue(queueKey, job2, &found);
  ASSERT_TRUE(found);
  auto spooledTime = fs::last_write_time(spooled);

  // The second instance says why in one event, then message 2, and ends.
  std::vector<int> before = world.EventIds();
  Child second;
  ASSERT_TRUE(second.Start(BinPath("Brelvane"), {"Brelvane"}, world.Environment(false)));
  int exitCode = -1;
  ASSERT_TRUE(second.Wait(5000, &exitCode));
  EXPECT_EQ(exitCode, 1);
  std::vector<LoggedEvent> events = world.Events();
  ASSERT_EQ(events.size(), before.size() + 2) << ::testing::PrintToString(world.EventIds());
  const LoggedEvent& why = events[before.size()];
  EXPECT_EQ(why.id, 4);
  EXPECT_EQ(why.type, "error");
  ASSERT_EQ(why.strings.size(), 1u);
  EXPECT_NE(why.strings[0].find("Another instance of the service runs (it holds " +
                                world.registryDir() + "/Brelvane.lock)"),
            std::string::npos)
      << why.strings[0];
  EXPECT_EQ(events[before.size() + 1].id, 2);
  // Nothing of the queue was touched: job 2's value and spool file are as
  // they were, and the running service still listens.
  EXPECT_EQ(ReadTextValue(queueKey, job2, &found), persisted);
  EXPECT_TRUE(found);
  EXPECT_EQ(fs::last_write_time(spooled), spooledTime);
  EXPECT_TRUE(IsListening(port));

  // The commands that do not run the service keep working beside it.
  RunResult version = RunBrelvane(world, {"-Version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output, "Brelvane Version 1.0.0\nThis service is currently installed\n");
  RunResult usage = RunBrelvane(world, {"-?"});
  EXPECT_EQ(usage.exitCode, 0);
  EXPECT_EQ(usage.output.rfind("Brelvane\t[RegServer]\n", 0), 0u) << usage.output;
  RunResult regServer = RunBrelvane(world, {"-RegServer"});
  EXPECT_EQ(regServer.exitCode, 0);
  EXPECT_EQ(regServer.output, "Brelvane registered\n\n");

  // Each job is printed once, by the running service.
  ASSERT_TRUE(WaitUntil(30000, [&] { return CountOf(ReadFile(world.printLog()), "end") == 2; }));
  std::string log = ReadFile(world.printLog());
  EXPECT_EQ(CountOf(log, "/1.xml"), 1u) << log;
  EXPECT_EQ(CountOf(log, "/2.xml"), 1u) << log;
  RunResult unregServer = RunBrelvane(world, {"-UnregServer"});
  EXPECT_EQ(unregServer.exitCode, 0);
  EXPECT_EQ(unregServer.output, "Brelvane unregistered\n\n");
  first.Signal(SIGTERM);
  ASSERT_TRUE(first.Wait(30000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(world.EventIds(), (std::vector<int>{1, 18, 4, 2, 21, 3}));
}

// The Uid:, Gid: or Groups: line of a /proc status text, its fields joined
// by single blanks ("Uid: 65534 65534 65534 65534").
std::string StatusLine(const std::string& status, const std::string& name) {
  std::istringstream lines(status);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(name + ":", 0) != 0) continue;
    std::istringstream fields(line);
    std::string field, joined;
    while (fields >> field) joined += (joined.empty() ? "" : " ") + field;
    return joined;
  }
  return "";
}

TEST(BrelvaneLifecycleTest, StartedByRootItRunsAsItsAccount) {
  if (geteuid() != 0) GTEST_SKIP() << "only a service started by root changes its user";
  passwd* account = getpwnam(kAccount);
  ASSERT_NE(account, nullptr);
  std::string uid = std::to_string(account->pw_uid);
  std::string gid = std::to_string(account->pw_gid);
  std::string uids = "Uid: " + uid + " " + uid + " " + uid + " " + uid;
  std::string gids = "Gid: " + gid + " " + gid + " " + gid + " " + gid;
  BrelvaneWorld world;
  int port = FreePort();
  world.InstallConfigured(port, kAccount);
  Child child;
  StartService(world, &child, {}, false);
  ASSERT_TRUE(WaitUntil(30000, [&] { return IsListening(port); }));

  // Every thread of the service has the account's ids, and no group of root.
  int threads = 0;
  for (const fs::directory_entry& task :
       fs::directory_iterator("/proc/" + std::to_string(child.pid()) + "/task")) {
    std::string status = ReadFile(task.path().string() + "/status");
    EXPECT_EQ(StatusLine(status, "Uid"), uids) << task.path();
    EXPECT_EQ(StatusLine(status, "Gid"), gids) << task.path();
    EXPECT_EQ((" " + StatusLine(status, "Groups") + " ").find(" 0 "), std::string::npos)
        << StatusLine(status, "Groups");
    ++threads;
  }
  EXPECT_GE(threads, 4);  // dispatcher, service, print thread, listener

  // A job: its spool files are the account's, and so is its print control.
  WriteFile(world.root() + "/job.xml", "<report/>");
  WriteFile(world.root() + "/job.xsl", "<xsl:stylesheet/>");
  Child sender;
  ASSERT_TRUE(sender.Start(BinPath("kavelo-send"),
                           {"kavelo-send", "--port", std::to_string(port),
                            world.root() + "/job.xml", world.root() + "/job.xsl"},
                           world.Environment(false)));
  int exitCode = -1;
  ASSERT_TRUE(sender.Wait(20000, &exitCode));
  EXPECT_EQ(exitCode, 0) << sender.output();
  ASSERT_TRUE(WaitUntil(30000, [&] { return CountOf(ReadFile(world.printLog()), "end") == 1; }));
  std::string log = ReadFile(world.printLog());
  EXPECT_EQ(StatusLine(log, "Uid"), uids) << log;
  EXPECT_EQ(StatusLine(log, "Gid"), gids) << log;
  int spooled = 0;
  for (const fs::directory_entry& file : fs::directory_iterator(world.spoolDir())) {
    struct stat info;
    ASSERT_EQ(lstat(file.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, account->pw_uid) << file.path();
    ++spooled;
  }
  EXPECT_EQ(spooled, 2);
  child.Signal(SIGTERM);
  ASSERT_TRUE(child.Wait(30000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(world.EventIds(), (std::vector<int>{1, 21, 3}));
}

TEST(BrelvaneLifecycleTest, EachStartupCheckFailsAloneAndFirstFailureEndsThem) {
  struct Row {
    const char* name;
    std::function<void(BrelvaneWorld&)> breakIt;
    int message;                       // 0: no event can reach the event file
    std::vector<std::string> strings;  // of the check's message; "$ROOT" is the world's folder
    bool rootOnly = false;             // only root hands the service to an account that lacks it
  };
  std::string missingApp = "/nonexistent/Ostrevo";
  std::string missingSpool = "/nonexistent/spool";
  std::string cannotWrite = std::string("The account ") + kAccount + " cannot write $ROOT/";
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
      {"an account that does not exist",
       [](BrelvaneWorld&) { WriteTextValue(kServiceKey, "ObjectName", "kavelo-no-such-user"); },
       12,
       {}},
      {"registry folder the account cannot write",
       [](BrelvaneWorld& w) { fs::permissions(w.registryDir(), fs::perms(0555)); },
       4,
       {cannotWrite + "registry."},
       true},
      {"queue hive the account cannot write",
       [](BrelvaneWorld& w) {
         fs::permissions(w.registryDir() + "/HKEY_LOCAL_MACHINE.db", fs::perms(0444));
       },
       4,
       {cannotWrite + "registry/HKEY_LOCAL_MACHINE.db."},
       true},
      {"event file the account cannot write",
       [](BrelvaneWorld& w) {
         WriteFile(w.eventLogPath(), "");
         fs::permissions(w.eventLogPath(), fs::perms(0444));
       },
       0,
       {},
       true},
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
    if (row.rootOnly && geteuid() != 0) continue;
    BrelvaneWorld world;
    world.InstallConfigured(FreePort(), kAccount);
    row.breakIt(world);
    NotifyReceiver notify(world.notifySocket());
    Child child;
    ASSERT_TRUE(child.Start(BinPath("Brelvane"), {"Brelvane"}, world.Environment(true)));
    int exitCode = -1;
    if (!child.Wait(30000, &exitCode)) {  // the process ends by itself
      ADD_FAILURE() << row.name << ": still running";
      continue;
    }
    EXPECT_EQ(exitCode, 1) << row.name;
    std::vector<LoggedEvent> events = world.Events();
    ASSERT_EQ(events.size(), row.message == 0 ? 0u : 2u)
        << row.name << " " << ::testing::PrintToString(world.EventIds());
    if (row.message != 0) {
      EXPECT_EQ(events[0].id, row.message) << row.name;
      EXPECT_EQ(events[0].type, "error") << row.name;
      if (!row.strings.empty()) {
        std::vector<std::string> strings = row.strings;
        for (std::string& text : strings) {
          size_t at = text.find("$ROOT");
          if (at != std::string::npos) text.replace(at, 5, world.root());
        }
        EXPECT_EQ(events[0].strings, strings) << row.name;
      }
      EXPECT_EQ(events[1].id, 2) << row.name;
    }
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
}  // namespace kavelo::testsupport
