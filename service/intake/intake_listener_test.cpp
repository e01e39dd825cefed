// The listener on real loopback sockets: jobs through the accept loop, the
// spool name choice, a port in use, Stop, bad connection settings, many
// connections at once and hostile byte streams.
#include "service/intake/intake_listener.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>

#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/queue/queue_thread.h"
#include "service/test/intake_fixture.h"
#include "testsupport/wait.h"
#include "tools/job_client.h"

namespace kavelo::service {
namespace {

using testsupport::Counted;
using testsupport::CountedFile;
using testsupport::Magic;
using testsupport::U16;
using testsupport::U32;

class IntakeListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallServiceMessageTable();
    channel_.Register(kServiceEventSource);
    settings_.port = 0;
    settings_.bindAddress = "127.0.0.1";
    settings_.timeout = 2000;
    settings_.printerApplication = "/opt/kavelo/PrintService/Ostrevo";
    settings_.printerName = "lp0";
    settings_.spoolerDirectory = spool_.path();
  }

  // Starts the listener and returns its port.
  int StartListener(IntakeListener& listener) {
    listener.Initialize(&channel_, &queue_, settings_);
    listener.Start();
    return listener.WaitListening(5000);
  }

  JobResult SendJob(int port, const std::string& options = "copies=2",
                    const std::string& xml = "<r/>", const std::string& xsl = "<s/>") {
    JobClient client("127.0.0.1", port, 10000);
    return client.Send(options, JobDocument{"", xml}, JobDocument{"", xsl});
  }

  testsupport::EventLogCapture events_;
  testsupport::TempDir spool_;
  EventLogChannel channel_;
  QueueThread queue_{false};  // never started: the jobs stay in its list
  IntakeSettings settings_;
};

TEST_F(IntakeListenerTest, AJobThroughTheListenerIsSpooledAndQueued) {
  IntakeListener listener;
  int port = StartListener(listener);
  ASSERT_GT(port, 0);
  JobResult result = SendJob(port, "printer=lp7", "<report/>", "<style/>");
  EXPECT_EQ(result.outcome, JobOutcome::kQueued) << result.detail;
  EXPECT_EQ(result.serviceVersion, "1.0.0");
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  std::vector<std::string> files = spool_.Files();
  ASSERT_EQ(files.size(), 2u);
  // "%08d": the number of the current epoch has ten digits.
  EXPECT_EQ(files[0].size(), 14u);
  EXPECT_EQ(files[0].substr(0, 10), files[1].substr(0, 10));
  EXPECT_EQ(testsupport::ReadFile(spool_.path() + "/" + files[0]), "<report/>");
  EXPECT_EQ(testsupport::ReadFile(spool_.path() + "/" + files[1]), "<style/>");
  std::string job;
  ASSERT_TRUE(queue_.jobs().First(&job));
  EXPECT_NE(job.find("xml=" + spool_.path() + "/" + files[0] + ";xsl=" + spool_.path() + "/" +
                     files[1] + ";"),
            std::string::npos);
  EXPECT_NE(job.find(";printerName=lp7;"), std::string::npos);
  listener.Stop();
  EXPECT_EQ(events_.Ids(), std::vector<int>{21});
}

TEST_F(IntakeListenerTest, StopWithoutClientsReportsOnlyTheStop) {
  settings_.port = 0;
  IntakeListener listener;
  ASSERT_GT(StartListener(listener), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // blocked in accept
  listener.Stop();
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 21);
  EXPECT_EQ(events[0].type, "information");
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"0"});  // the configured port
  EXPECT_EQ(listener.state(), ThreadState::kStopped);
}

TEST_F(IntakeListenerTest, APortInUseGivesEvent19AndTheServiceGoesOn) {
  int taken = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(taken, 1), 0);
  socklen_t length = sizeof address;
  getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
  settings_.port = ntohs(address.sin_port);

  IntakeListener listener;
  EXPECT_EQ(StartListener(listener), 0);
  listener.Stop();
  close(taken);
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 1u);  // no event 21: the loop never ran
  EXPECT_EQ(events[0].id, 19);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"98"});
  // The rest of the service is untouched: the queue still takes jobs.
  EXPECT_TRUE(queue_.AddJob("/a", "/b.xml", "/c.xsl", "lp0", 0, 1, 0, 0));
}

TEST_F(IntakeListenerTest, ChooseSpoolNamesSkipsTakenNumbersAndReservesBoth) {
  int32_t now = static_cast<int32_t>(static_cast<uint32_t>(std::time(nullptr)) +
                                     static_cast<uint32_t>(syscall(SYS_gettid)) +
                                     static_cast<uint32_t>(getpid()));
  // Take the numbers a pass and the next would land on within a few
  // seconds: an .xsl alone or an .xml alone makes a number be skipped.
  for (int32_t n = now; n < now + 12; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/%08d.%s", n, n % 2 ? "xsl" : "xml");
    std::ofstream(spool_.path() + name) << "taken";
  }
  auto names = ChooseSpoolNames(spool_.path());
  std::string xmlName = names.first.substr(spool_.path().size() + 1);
  std::string xslName = names.second.substr(spool_.path().size() + 1);
  int32_t chosen = std::atoi(xmlName.c_str());
  EXPECT_GE(chosen, now + 12);
  EXPECT_EQ(xmlName, std::to_string(chosen) + ".xml");
  EXPECT_EQ(xslName, std::to_string(chosen) + ".xsl");
  // Reserved: both exist and are empty; a second choice picks other names.
  EXPECT_EQ(testsupport::ReadFile(names.first), "");
  EXPECT_TRUE(testsupport::FileExists(names.second));
  auto again = ChooseSpoolNames(spool_.path());
  EXPECT_NE(again.first, names.first);
  EXPECT_EQ(spool_.Files().size(), 12u + 4u);
  // With the caller's memory of used numbers the next choice starts right
  // after the last one instead of walking through the taken ones again.
  uint32_t next = 0;
  auto first = ChooseSpoolNames(spool_.path(), &next);
  auto second = ChooseSpoolNames(spool_.path(), &next);
  int32_t firstNumber = std::atoi(first.first.c_str() + spool_.path().size() + 1);
  EXPECT_EQ(std::atoi(second.first.c_str() + spool_.path().size() + 1), firstNumber + 1);
  EXPECT_EQ(next, static_cast<uint32_t>(firstNumber) + 2);
}

TEST_F(IntakeListenerTest, ANegativeSocketSettingClosesTheConnectionWithEvent24) {
  settings_.recvBuffer = -1;
  IntakeListener listener;
  int port = StartListener(listener);
  testsupport::RawClient client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(client.ReadToEnd(), "");
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, 24);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"Unknown"});
  EXPECT_TRUE(spool_.Files().empty());  // the unused reservation is gone
}

TEST_F(IntakeListenerTest, TenClientsAtOnceWithABacklogOfTenAreServedTogether) {
  settings_.maxConnections = 10;
  IntakeListener listener;
  int port = StartListener(listener);
  // Ten connections that stay open side by side: each has sent its magic
  // number and got its status before any of them goes on.
  std::vector<std::unique_ptr<testsupport::RawClient>> clients;
  for (int i = 0; i < 10; ++i) {
    clients.push_back(std::make_unique<testsupport::RawClient>());
    ASSERT_TRUE(clients.back()->Connect(port));
    ASSERT_TRUE(clients.back()->Send(Magic()));
  }
  for (auto& client : clients) EXPECT_EQ(client->Read(2), std::string(2, '\0'));
  EXPECT_EQ(listener.activeConnections(), 10);
  for (auto& client : clients) {
    client->Send(Counted("1.0.0") + Counted("") + CountedFile("<r/>") + CountedFile("<s/>"));
  }
  for (auto& client : clients) {
    EXPECT_EQ(client->ReadToEnd().substr(7), std::string(8, '\0'));
  }
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  EXPECT_EQ(queue_.jobs().size(), 10u);
}

TEST_F(IntakeListenerTest, HundredsOfConcurrentConnectionsAreAllServed) {
  // A backlog that holds the burst: with a short one the kernel drops SYNs
  // and the clients only come back after their retransmission time-out.
  settings_.maxConnections = 512;
  IntakeListener listener;
  int port = StartListener(listener);
  constexpr int kClients = 300;
  std::atomic<int> queued{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      JobResult result = SendJob(port, "copies=" + std::to_string(i + 1),
                                 "<r n='" + std::to_string(i) + "'/>", "<s/>");
      if (result.outcome == JobOutcome::kQueued) ++queued;
    });
  }
  for (std::thread& t : clients) t.join();
  ASSERT_TRUE(listener.WaitConnectionsIdle(10000));
  listener.Stop();
  EXPECT_EQ(queued.load(), kClients);
  EXPECT_EQ(queue_.jobs().size(), static_cast<size_t>(kClients));
  EXPECT_EQ(spool_.Files().size(), 2u * kClients);  // every job its own names
  EXPECT_EQ(events_.Ids(), std::vector<int>{21});
}

TEST_F(IntakeListenerTest, HostileStreamsNeverCostAnAcceptedJob) {
  settings_.timeout = 500;
  settings_.maxConnections = 512;
  IntakeListener listener;
  int port = StartListener(listener);
  const std::string good =
      Magic() + Counted("1.0.0") + Counted("copies=2") + CountedFile("<r/>") + CountedFile("<s/>");
  std::mt19937 random(12345);
  std::vector<std::string> streams;
  for (int i = 0; i < 40; ++i) {  // random bytes, sometimes after a good magic
    std::string bytes(random() % 300, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    streams.push_back(i % 2 ? Magic() + bytes : bytes);
  }
  for (size_t cut = 0; cut < good.size(); cut += 3) streams.push_back(good.substr(0, cut));
  const std::string prefix = Magic() + Counted("1.0.0");
  streams.push_back(prefix + U16(65535) + std::string(65535, 'a'));  // a full option text
  streams.push_back(prefix + Counted("") + U32(4294967295u) + "<partial");
  streams.push_back(prefix + Counted("") + CountedFile("") + U32(4294967295u) + "<x");
  streams.push_back(prefix + U16(65535) + "short");

  std::atomic<int> goodQueued{0};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < streams.size(); ++i) {
    threads.emplace_back([&, i] {
      testsupport::RawClient client;
      if (!client.Connect(port)) return;
      client.Send(streams[i]);
      if (i % 3 == 0) client.ShutdownWrite();  // others go silent or vanish
      if (i % 3 == 1) client.ReadToEnd();
    });
    // Good jobs between the hostile ones are all queued.
    threads.emplace_back([&] {
      if (SendJob(port).outcome == JobOutcome::kQueued) ++goodQueued;
    });
  }
  for (std::thread& t : threads) t.join();
  ASSERT_TRUE(listener.WaitConnectionsIdle(10000));
  EXPECT_EQ(goodQueued.load(), static_cast<int>(streams.size()));
  // The cut after the last byte of a good stream is itself a good job.
  EXPECT_EQ(SendJob(port).outcome, JobOutcome::kQueued);
  listener.Stop();
  // Only the queued jobs keep spool files: every failed exchange removed
  // its two reserved ones.
  EXPECT_EQ(queue_.jobs().size(), streams.size() + 1);
  EXPECT_EQ(spool_.Files().size(), 2 * queue_.jobs().size());
  for (int id : events_.Ids()) {
    EXPECT_TRUE(id == 21 || id == 24 || (id >= 25 && id <= 30)) << id;
  }
}

// Linux paths run to 4096 characters: a spool directory far beyond the old
// 259-character fields gives whole, distinct spool paths.
TEST_F(IntakeListenerTest, ALongSpoolDirectoryGivesWholePaths) {
  std::string directory = spool_.path();
  for (int i = 0; i < 3; ++i) {
    directory += "/" + std::string(100, static_cast<char>('a' + i));
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
  }
  ASSERT_GE(directory.size(), 300u);
  settings_.spoolerDirectory = directory;
  IntakeListener listener;
  int port = StartListener(listener);
  JobResult result = SendJob(port, "copies=2", "<report/>", "<style/>");
  EXPECT_EQ(result.outcome, JobOutcome::kQueued) << result.detail;
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  std::string job;
  ASSERT_TRUE(queue_.jobs().First(&job));
  size_t xml = job.find("xml=" + directory + "/");
  size_t xsl = job.find(";xsl=" + directory + "/");
  ASSERT_NE(xml, std::string::npos) << job;
  ASSERT_NE(xsl, std::string::npos) << job;
  std::string xmlPath = job.substr(xml + 4, job.find(';', xml) - xml - 4);
  std::string xslPath = job.substr(xsl + 5, job.find(';', xsl + 1) - xsl - 5);
  EXPECT_EQ(testsupport::ReadFile(xmlPath), "<report/>");
  EXPECT_EQ(testsupport::ReadFile(xslPath), "<style/>");
  for (const std::string& path : {xmlPath, xslPath}) unlink(path.c_str());
  for (int i = 0; i < 3; ++i) {
    rmdir(directory.c_str());
    directory.resize(directory.rfind('/'));
  }
}

// A stop ends every open exchange at once, whatever its client does, and
// returns only when every connection thread has ended.
TEST_F(IntakeListenerTest, StopEndsOpenExchangesAtOnce) {
  settings_.timeout = 300000;
  IntakeListener listener;
  int port = StartListener(listener);
  testsupport::RawClient idle, magicOnly, trickling;
  ASSERT_TRUE(idle.Connect(port));
  ASSERT_TRUE(magicOnly.Connect(port));
  ASSERT_TRUE(magicOnly.Send(Magic()));
  ASSERT_TRUE(trickling.Connect(port));
  ASSERT_TRUE(trickling.Send(Magic() + Counted("1.0.0") + Counted("") + U32(100000)));
  std::atomic<bool> stop{false};
  std::thread trickler([&] {
    while (!stop && trickling.Send("x")) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  });
  ASSERT_EQ(magicOnly.Read(2), std::string(2, '\0'));
  for (int i = 0; i < 200 && listener.activeConnections() < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(listener.activeConnections(), 3);
  auto start = std::chrono::steady_clock::now();
  listener.Stop();
  auto elapsed = std::chrono::steady_clock::now() - start;
  stop = true;
  trickler.join();
  EXPECT_LT(elapsed, std::chrono::seconds(2));
  EXPECT_EQ(listener.activeConnections(), 0);
  // Each client sees its connection end; no spool file stays behind.
  for (testsupport::RawClient* client : {&idle, &magicOnly, &trickling}) client->ReadToEnd();
  EXPECT_TRUE(spool_.Files().empty());
  std::vector<int> ids = events_.Ids();
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 21), 1);
}


// ---- Who may print, and how much ----

class ClientBoundsTest : public IntakeListenerTest {
 protected:
  void SetUp() override {
    IntakeListenerTest::SetUp();
    settings_.bindAddress = "";  // every address, dual-stack
  }
  JobResult SendFrom(const std::string& from, int port, const std::string& xml = "<r/>",
                     const std::string& host = "127.0.0.1") {
    JobClient client(host, port, 10000);
    client.set_source_address(from);
    return client.Send("", JobDocument{"", xml}, JobDocument{"", "<s/>"});
  }
  static ClientLimits Allowed(const std::vector<std::string>& entries) {
    ClientLimits limits;
    std::string invalid;
    EXPECT_TRUE(AddressList::Parse(entries, &limits.allowedClients, &invalid)) << invalid;
    return limits;
  }
};

TEST_F(ClientBoundsTest, IPv6AndIPv4ClientsReachTheOneSocket) {
  IntakeListener listener;
  int port = StartListener(listener);
  ASSERT_GT(port, 0);
  EXPECT_EQ(SendFrom("", port, "<r/>", "::1").outcome, JobOutcome::kQueued);
  EXPECT_EQ(SendFrom("", port, "<r/>", "127.0.0.1").outcome, JobOutcome::kQueued);
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  EXPECT_EQ(queue_.jobs().size(), 2u);
}

TEST_F(ClientBoundsTest, APeerOutsideTheAllowedClientsIsClosedUnreadAndReportedOnceAMinute) {
  settings_.limits = Allowed({"127.0.0.2", "::1"});
  IntakeListener listener;
  int port = StartListener(listener);
  for (int i = 0; i < 3; ++i) {
    testsupport::RawClient refused;
    ASSERT_TRUE(refused.Connect(port, 5000, "127.0.0.1"));
    refused.Send(Magic());  // whatever it sends is never answered
    EXPECT_EQ(refused.ReadToEnd(), "");
  }
  EXPECT_TRUE(spool_.Files().empty());  // no spool file was reserved for it
  EXPECT_EQ(listener.activeConnections(), 0);  // nor a thread started
  EXPECT_EQ(SendFrom("127.0.0.2", port).outcome, JobOutcome::kQueued);
  EXPECT_EQ(SendFrom("", port, "<r/>", "::1").outcome, JobOutcome::kQueued);
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, 35);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"127.0.0.1"});  // never ::ffff:
  EXPECT_EQ(events[1].id, 21);
  EXPECT_EQ(queue_.jobs().size(), 2u);
}

TEST_F(ClientBoundsTest, AConnectionFloodFromOneAddressLeavesAnotherAddressPrinting) {
  settings_.limits.maxConnectionsPerClient = 4;
  settings_.maxConnections = 256;
  IntakeListener listener;
  int port = StartListener(listener);
  std::vector<std::unique_ptr<testsupport::RawClient>> flood;
  for (int i = 0; i < 100; ++i) {
    flood.push_back(std::make_unique<testsupport::RawClient>());
    ASSERT_TRUE(flood.back()->Connect(port, 5000, "127.0.0.1"));
  }
  EXPECT_EQ(SendFrom("127.0.0.2", port).outcome, JobOutcome::kQueued);
  // The flood holds its four connections and no thread more.
  EXPECT_TRUE(testsupport::WaitUntil(5000, [&] { return listener.activeConnections() == 4; }));
  size_t closed = 0;
  for (auto& client : flood) {
    pollfd ready{client->fd(), POLLIN, 0};
    if (poll(&ready, 1, 0) == 1 && client->ReadToEnd().empty()) ++closed;
  }
  EXPECT_EQ(closed, 96u);
  flood.clear();
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].id, 36);
  EXPECT_EQ(events[0].strings,
            (std::vector<std::string>{"127.0.0.1", "MaxConnectionsPerClient 4"}));
  EXPECT_EQ(queue_.jobs().size(), 1u);
}

TEST_F(ClientBoundsTest, QueuedJobsAndBytesAreBoundedPerClient) {
  settings_.limits.maxQueuedJobsPerClient = 2;
  settings_.limits.maxQueuedBytesPerClient = 1 << 20;
  IntakeListener listener;
  int port = StartListener(listener);
  const std::string big(600 << 10, 'x');
  EXPECT_EQ(SendFrom("127.0.0.2", port, big).outcome, JobOutcome::kQueued);
  // 600 KiB more would pass the client's MiB.
  JobResult overBytes = SendFrom("127.0.0.2", port, big);
  EXPECT_EQ(overBytes.outcome, JobOutcome::kRefused);
  EXPECT_EQ(SendFrom("127.0.0.2", port).outcome, JobOutcome::kQueued);
  EXPECT_EQ(SendFrom("127.0.0.2", port).outcome, JobOutcome::kRefused);  // a third job
  // Another client's jobs go on.
  EXPECT_EQ(SendFrom("127.0.0.3", port, big).outcome, JobOutcome::kQueued);
  EXPECT_EQ(SendFrom("127.0.0.3", port).outcome, JobOutcome::kQueued);
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  EXPECT_EQ(queue_.jobs().size(), 4u);
  EXPECT_EQ(spool_.Files().size(), 8u);  // the refused jobs left nothing
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].strings, (std::vector<std::string>{"127.0.0.2", "MaxQueuedMBPerClient 1"}));
  EXPECT_EQ(events[1].strings,
            (std::vector<std::string>{"127.0.0.2", "MaxQueuedJobsPerClient 2"}));
  EXPECT_EQ(events[0].id, 36);
  EXPECT_EQ(events[1].id, 36);
  // Each queued report names its client for the count after a restart.
  ClientAdmission rebuilt;
  rebuilt.Configure(settings_.limits, spool_.path(), nullptr);
  std::deque<std::string> queued = queue_.jobs().Snapshot();
  std::vector<std::string> jobs(queued.begin(), queued.end());
  rebuilt.CountQueuedJobs(jobs);
  PeerAddress client;
  ASSERT_TRUE(PeerAddress::Parse("127.0.0.2", &client));
  uint32_t count = 0;
  uint64_t bytes = 0;
  rebuilt.Counted(client, &count, &bytes);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(bytes, big.size() + 4 + 2 * 4);  // both reports and stylesheets
}

// The spool reserve on a small file system of its own: a document that
// would leave less than the reserve free is refused before a byte of it is
// written, and the next job that fits prints.
TEST_F(ClientBoundsTest, TheSpoolReserveRefusesADocumentBeforeWritingIt) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  testsupport::TempDir small("kavelo-small-spool");
  ASSERT_EQ(mount("tmpfs", small.path().c_str(), "tmpfs", 0, "size=8m,mode=0700"), 0)
      << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{small.path()};
  settings_.spoolerDirectory = small.path();
  settings_.limits.spoolReserveBytes = 4 << 20;
  IntakeListener listener;
  int port = StartListener(listener);
  struct statvfs before;
  ASSERT_EQ(statvfs(small.path().c_str(), &before), 0);
  // 5 MiB of the 8 would leave 3, below the reserve of 4.
  JobResult refused = SendFrom("", port, std::string(5 << 20, 'x'));
  EXPECT_EQ(refused.outcome, JobOutcome::kRefused) << refused.detail;
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  struct statvfs after;
  ASSERT_EQ(statvfs(small.path().c_str(), &after), 0);
  EXPECT_EQ(after.f_bfree, before.f_bfree);  // nothing was written
  EXPECT_TRUE(small.Files().empty());
  EXPECT_EQ(SendFrom("", port, std::string(1 << 20, 'y')).outcome, JobOutcome::kQueued);
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  EXPECT_EQ(queue_.jobs().size(), 1u);
  EXPECT_EQ(events_.Ids(), (std::vector<int>{26, 21}));
}

// A PROXY protocol version 2 header for a TCP connection from client.
std::string ProxyHeaderFrom(const std::string& client) {
  in_addr address;
  EXPECT_EQ(inet_pton(AF_INET, client.c_str(), &address), 1);
  std::string body(reinterpret_cast<const char*>(&address), 4);
  body += std::string("\x7F\x00\x00\x01\x12\x67\x0F\xA0", 8);  // to 127.0.0.1, ports
  return std::string("\r\n\r\n\0\r\nQUIT\n", 12) + std::string("\x21\x11\x00\x0C", 4) + body;
}

// Behind a trusted proxy the client its header names is the one the
// allowed clients, the bounds and the events see; a header from anyone
// else, or a trusted proxy's connection without one, is a bad magic number.
TEST_F(ClientBoundsTest, ATrustedProxysHeaderNamesTheClient) {
  settings_.limits = Allowed({"192.0.2.0/24", "127.0.0.2"});
  std::string invalid;
  ASSERT_TRUE(AddressList::Parse({"127.0.0.1"}, &settings_.limits.trustedProxies, &invalid));
  settings_.limits.maxQueuedJobsPerClient = 1;
  IntakeListener listener;
  int port = StartListener(listener);
  const std::string job =
      Magic() + Counted("1.0.0") + Counted("") + CountedFile("<r/>") + CountedFile("<s/>");
  // Magic, version and its status, options, documents, final status.
  const std::string queued = std::string(2, '\0') + Counted("1.0.0") + std::string(8, '\0');
  const std::string notQueued = std::string(2, '\0') + Counted("1.0.0") + std::string(4, '\0') +
                                std::string("\x00\x01", 2);
  const std::string badMagic("\xFF\xFF\x00\x01", 4);
  struct Case {
    const char* what;
    const char* from;
    std::string bytes;
    std::string answer;
  } cases[] = {
      {"an allowed client behind the proxy", "127.0.0.1", ProxyHeaderFrom("192.0.2.7") + job,
       queued},
      {"its second job passes its bound", "127.0.0.1", ProxyHeaderFrom("192.0.2.7") + job,
       notQueued},
      {"another client behind the proxy", "127.0.0.1", ProxyHeaderFrom("192.0.2.8") + job, queued},
      {"a client outside the allowed ones", "127.0.0.1", ProxyHeaderFrom("203.0.113.5") + job, ""},
      {"the proxy without a header", "127.0.0.1", job, badMagic},
      {"a header from a peer that is no proxy", "127.0.0.2", ProxyHeaderFrom("192.0.2.9") + job,
       badMagic},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::RawClient client;
    ASSERT_TRUE(client.Connect(port, 5000, c.from));
    client.Send(c.bytes);
    EXPECT_EQ(client.ReadToEnd(), c.answer);
  }
  ASSERT_TRUE(listener.WaitConnectionsIdle(5000));
  listener.Stop();
  EXPECT_EQ(queue_.jobs().size(), 2u);
  ASSERT_EQ(spool_.Files().size(), 4u);
  std::set<std::string> marked;  // the client each queued report counts for
  for (const std::string& name : spool_.Files()) {
    char text[64];
    ssize_t n = getxattr((spool_.path() + "/" + name).c_str(), kClientAttribute, text, sizeof text);
    if (n > 0) marked.insert(std::string(text, static_cast<size_t>(n)));
  }
  EXPECT_EQ(marked, (std::set<std::string>{"192.0.2.7", "192.0.2.8"}));
  std::vector<std::vector<std::string>> seen;
  for (const testsupport::LoggedEvent& event : events_.Events()) {
    seen.push_back({std::to_string(event.id)});
    seen.back().insert(seen.back().end(), event.strings.begin(), event.strings.end());
  }
  EXPECT_EQ(seen, (std::vector<std::vector<std::string>>{
                      {"36", "192.0.2.7", "MaxQueuedJobsPerClient 1"},
                      {"35", "203.0.113.5"},
                      {"25"},
                      {"25"},
                      {"21", "0"}}));
}

}  // namespace
}  // namespace kavelo::service
