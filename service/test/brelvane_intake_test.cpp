// The real Brelvane service with clients on its port: a stop while clients
// hold connections, jobs refused at the intake, and spool directories long
// and too long.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "service/test/brelvane_harness.h"
#include "service/test/intake_fixture.h"
#include "tools/job_client.h"

namespace kavelo::testsupport {
namespace {

namespace fs = std::filesystem;

constexpr const char* kParametersKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters";
constexpr const char* kPrintQueueKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\PrintQueue";

// Starts the service as "nobody" and waits for message 1.
void StartService(const BrelvaneWorld& world, Child* child) {
  ASSERT_TRUE(child->Start(BinPath("Brelvane"), {"Brelvane"}, world.Environment(false)));
  ASSERT_TRUE(WaitUntil(30000, [&] {
    for (int id : world.EventIds()) {
      if (id == 1) return true;
    }
    return false;
  })) << ::testing::PrintToString(world.EventIds());
}

// Connects, retrying while the service does not listen yet.
void ConnectWhenListening(testsupport::RawClient* client, int port) {
  ASSERT_TRUE(WaitUntil(30000, [&] { return client->Connect(port); }));
}

// A directory below root whose path is about length characters long.
std::string DeepDirectory(const std::string& root, size_t length) {
  std::string path = root;
  while (path.size() + 101 <= length) path += "/" + std::string(100, 'd');
  if (path.size() < length) path += "/" + std::string(length - path.size() - 1, 'e');
  fs::create_directories(path);
  return path;
}

TEST(BrelvaneIntakeTest, SigtermWithClientsConnectedExitsAtOnce) {
  BrelvaneWorld world;
  int port = FreePort();
  world.InstallConfigured(port, "nobody");  // the default Timeout of 300 s
  Child child;
  StartService(world, &child);
  testsupport::RawClient idle, magicOnly, trickling;
  ConnectWhenListening(&idle, port);
  ASSERT_TRUE(magicOnly.Connect(port));
  ASSERT_TRUE(magicOnly.Send(testsupport::Magic()));
  ASSERT_EQ(magicOnly.Read(2), std::string(2, '\0'));
  ASSERT_TRUE(trickling.Connect(port));
  std::atomic<bool> stop{false};
  std::thread trickler([&] {
    // A byte a second, each one renewing a per-read time-out.
    std::string bytes = testsupport::Magic() + testsupport::Counted("1.0.0");
    for (size_t i = 0; !stop; ++i) {
      if (!trickling.Send(std::string(1, i < bytes.size() ? bytes[i] : 'x'))) break;
      for (int t = 0; t < 10 && !stop; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));

  child.Signal(SIGTERM);
  int exitCode = -1;
  bool ended = child.Wait(5000, &exitCode);
  stop = true;
  trickler.join();
  if (!ended) {
    // Let it end as the clients go, to see how it ends.
    for (testsupport::RawClient* client : {&idle, &magicOnly, &trickling}) client->Close();
    child.Wait(20000, &exitCode);
  }
  EXPECT_TRUE(ended) << "still running 5 s after SIGTERM";
  EXPECT_EQ(exitCode, 0);  // 128 + 11 after a crash
  std::vector<int> ids = world.EventIds();
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids.back(), 3);
  EXPECT_TRUE(fs::is_empty(world.spoolDir()));
}

// Jobs the print control could not carry out are refused with final
// status 1, nothing of them is persisted, and the job behind them prints.
TEST(BrelvaneIntakeTest, RefusedJobsLeaveNothingAndTheQueueMovesOn) {
  BrelvaneWorld world;
  int port = FreePort();
  world.InstallConfigured(port, "nobody");
  Child child;
  StartService(world, &child);
  testsupport::RawClient probe;
  ConnectWhenListening(&probe, port);
  probe.Close();
  for (const std::string& options :
       {std::string("copies=2000000000"), "printer=" + std::string(8200, 'p')}) {
    JobClient client("127.0.0.1", port, 10000);
    JobResult result = client.Send(options, JobDocument{"", "<r/>"}, JobDocument{"", "<s/>"});
    EXPECT_EQ(result.outcome, JobOutcome::kRefused) << options.substr(0, 20) << result.detail;
  }
  EXPECT_FALSE(KeyExists(kPrintQueueKey));
  JobClient client("127.0.0.1", port, 10000);
  JobResult result =
      client.Send("copies=2,topage=1", JobDocument{"", "<r/>"}, JobDocument{"", "<s/>"});
  EXPECT_EQ(result.outcome, JobOutcome::kQueued) << result.detail;
  ASSERT_TRUE(WaitUntil(20000, [&] {
    return ReadFile(world.printLog()).find("end") != std::string::npos;
  })) << ReadFile(world.printLog());
  std::string log = ReadFile(world.printLog());
  EXPECT_NE(log.find(";copy=2;"), std::string::npos) << log;
  EXPECT_EQ(log.find("start", log.find("start") + 1), std::string::npos) << log;
  child.Signal(SIGTERM);
  int exitCode = -1;
  ASSERT_TRUE(child.Wait(30000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  int refusals = 0;
  for (const LoggedEvent& event : world.Events()) {
    if (event.id == 5 && !event.strings.empty() &&
        event.strings[0].rfind("Job refused: ", 0) == 0) {
      ++refusals;
    }
  }
  EXPECT_EQ(refusals, 2);
}

// A spool directory of 250 characters (paths were cut to 259, which made
// the .xml and .xsl names one) gives whole paths; one whose paths the print
// control would misread is refused at start with message 16.  (The service
// reads text parameters of up to 255 characters.)
TEST(BrelvaneIntakeTest, SpoolDirectoryPathsAreCheckedAtStartAndNeverCut) {
  struct Row {
    std::string name;  // "" for a deep folder of 250 characters
    bool starts;
  } rows[] = {{"", true}, {"jobs;old", false}, {"jobs  old", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BrelvaneWorld world;
    int port = FreePort();
    world.InstallConfigured(port, "nobody");
    std::string spool = row.name.empty() ? DeepDirectory(world.spoolDir(), 250)
                                         : world.spoolDir() + "/" + row.name;
    fs::create_directories(spool);
    WriteTextValue(kParametersKey, "SpoolerDirectory", spool);
    Child child;
    ASSERT_TRUE(child.Start(BinPath("Brelvane"), {"Brelvane"}, world.Environment(false)));
    if (!row.starts) {
      int exitCode = -1;
      ASSERT_TRUE(child.Wait(30000, &exitCode));
      EXPECT_EQ(exitCode, 1);
      std::vector<LoggedEvent> events = world.Events();
      ASSERT_EQ(events.size(), 2u);
      EXPECT_EQ(events[0].id, 16);
      EXPECT_EQ(events[0].strings, std::vector<std::string>{spool});
      EXPECT_EQ(events[1].id, 2);
      continue;
    }
    ASSERT_TRUE(WaitUntil(30000, [&] {
      for (int id : world.EventIds()) {
        if (id == 1) return true;
      }
      return false;
    })) << ::testing::PrintToString(world.EventIds());
    testsupport::RawClient probe;
    ConnectWhenListening(&probe, port);
    probe.Close();
    JobClient client("127.0.0.1", port, 10000);
    JobResult result = client.Send("topage=1", JobDocument{"", "<r/>"}, JobDocument{"", "<s/>"});
    EXPECT_EQ(result.outcome, JobOutcome::kQueued) << result.detail;
    ASSERT_TRUE(WaitUntil(20000, [&] {
      return ReadFile(world.printLog()).find("end") != std::string::npos;
    }));
    std::string log = ReadFile(world.printLog());
    EXPECT_NE(log.find("xml=" + spool + "/"), std::string::npos) << log;
    EXPECT_NE(log.find(".xml;xsl=" + spool + "/"), std::string::npos) << log;
    EXPECT_NE(log.find(".xsl;fromPage="), std::string::npos) << log;
    child.Signal(SIGTERM);
    int exitCode = -1;
    ASSERT_TRUE(child.Wait(30000, &exitCode));
    EXPECT_EQ(exitCode, 0);
  }
}

// Waits until message 1 has been reported count times.
bool WaitStarted(const BrelvaneWorld& world, int count) {
  return WaitUntil(30000, [&] {
    std::vector<int> ids = world.EventIds();
    return std::count(ids.begin(), ids.end(), 1) >= count;
  });
}

// Two loopback addresses act as two clients.  A job over IPv6 prints; one
// client's queued jobs reach its bound, which holds over a restart (the
// counts come from the persisted queue), while the other's jobs go on.
TEST(BrelvaneIntakeTest, QueuedJobBoundsHoldOverARestartWhileAnotherClientsJobsGoOn) {
  BrelvaneWorld world;
  int port = FreePort();
  world.InstallConfigured(port, "nobody");
  WriteDwordValue(kParametersKey, "MaxQueuedJobsPerClient", 2);
  ScopedEnv slow("FAKE_PRINT_SECONDS", "60");  // the first job holds the printer
  auto send = [&](const std::string& from, const std::string& host = "127.0.0.1") {
    JobClient client(host, port, 10000);
    client.set_source_address(from);
    return client.Send("", JobDocument{"", "<r/>"}, JobDocument{"", "<s/>"}).outcome;
  };
  Child child;
  StartService(world, &child);
  testsupport::RawClient probe;
  ConnectWhenListening(&probe, port);
  probe.Close();
  EXPECT_EQ(send("", "::1"), JobOutcome::kQueued);
  ASSERT_TRUE(WaitUntil(20000, [&] {
    return ReadFile(world.printLog()).find("start") != std::string::npos;
  }));
  EXPECT_EQ(send("127.0.0.2"), JobOutcome::kQueued);
  EXPECT_EQ(send("127.0.0.2"), JobOutcome::kQueued);
  EXPECT_EQ(send("127.0.0.2"), JobOutcome::kRefused);
  EXPECT_EQ(send("127.0.0.3"), JobOutcome::kQueued);

  child.Signal(SIGTERM);  // the running job stays queued too
  int exitCode = -1;
  ASSERT_TRUE(child.Wait(30000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  Child again;
  ASSERT_TRUE(again.Start(BinPath("Brelvane"), {"Brelvane"}, world.Environment(false)));
  ASSERT_TRUE(WaitStarted(world, 2)) << ::testing::PrintToString(world.EventIds());
  ConnectWhenListening(&probe, port);
  probe.Close();
  EXPECT_EQ(send("127.0.0.2"), JobOutcome::kRefused);
  EXPECT_EQ(send("127.0.0.3"), JobOutcome::kQueued);
  EXPECT_EQ(send("127.0.0.3"), JobOutcome::kRefused);
  again.Signal(SIGTERM);
  ASSERT_TRUE(again.Wait(30000, &exitCode));
  std::vector<std::vector<std::string>> bounds;
  for (const LoggedEvent& event : world.Events()) {
    if (event.id == 36) bounds.push_back(event.strings);
  }
  const std::vector<std::string> second = {"127.0.0.2", "MaxQueuedJobsPerClient 2"};
  const std::vector<std::string> third = {"127.0.0.3", "MaxQueuedJobsPerClient 2"};
  EXPECT_EQ(bounds, (std::vector<std::vector<std::string>>{second, second, third}));
}

// A typo in who may print stops the start: the entry is named in message 37.
TEST(BrelvaneIntakeTest, AnInvalidAddressEntryStopsTheStart) {
  struct Row {
    RawValue value;
    std::vector<std::string> named;
  } rows[] = {
      {{kParametersKey, "AllowedClients", platform::REG_MULTI_SZ,
        std::string("10.0.0.0/8\0" "10.0.0.0/33\0\0", 24)},
       {"AllowedClients", "10.0.0.0/33"}},
      {{kParametersKey, "ListenAddress", platform::REG_SZ, Sz("localhost")},
       {"ListenAddress", "localhost"}},
      {{kParametersKey, "TrustedProxies", platform::REG_SZ, Sz("10.0.0.1/8/8")},
       {"TrustedProxies", "10.0.0.1/8/8"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value.name);
    BrelvaneWorld world;
    world.InstallConfigured(FreePort(), "nobody");
    ASSERT_EQ(WriteRaw({row.value}), platform::kErrorSuccess);
    RunResult result = RunBrelvane(world, {});
    EXPECT_EQ(result.exitCode, 1);
    std::vector<LoggedEvent> events = world.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, 37);
    EXPECT_EQ(events[0].strings, row.named);
    EXPECT_EQ(events[1].id, 2);
  }
}

}  // namespace
}  // namespace kavelo::testsupport
