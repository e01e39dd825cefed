// The status side alone, with probes the test sets: health by its checks,
// metrics that promtool accepts, and clients that try to hold, flood or
// escape it.
#include "service/status/status_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/status/service_counters.h"
#include "service/test/http_fixture.h"
#include "service/test/intake_fixture.h"
#include "testsupport/temp_dir.h"

namespace kavelo::service {
namespace {

using testsupport::HttpGet;
using testsupport::HttpRaw;
using Clock = std::chrono::steady_clock;

struct Fixture {
  testsupport::TempDir spool;
  std::atomic<bool> listening{true};
  std::atomic<bool> printing{true};
  std::atomic<bool> draining{false};
  StatusServer server;

  Fixture() {
    StatusProbes probes;
    probes.intakeListening = [this] { return listening.load(); };
    probes.printThreadAlive = [this] { return printing.load(); };
    probes.draining = [this] { return draining.load(); };
    probes.openConnections = [] { return int64_t{3}; };
    probes.waitingJobs = [] { return int64_t{2}; };
    probes.spoolDirectory = spool.path();
    probes.version = "1.0.0";
    StatusSettings settings;
    settings.port = 0;
    EXPECT_TRUE(server.Start(nullptr, settings, std::move(probes), /*anyPort=*/true));
  }
};

TEST(StatusServerTest, HealthNamesTheFailingCheck) {
  // Root may write anywhere: the folder check then cannot fail.
  const bool root = geteuid() == 0;
  struct Case {
    const char* name;
    bool listening, printing, spoolWritable, draining;
    int status;
    const char* failing;
  } cases[] = {
      {"all well", true, true, true, false, 200, nullptr},
      {"intake closed", false, true, true, false, 503, "\"intake\""},
      {"print thread ended", true, false, true, false, 503, "\"print_thread\""},
      {"spool not writable", true, true, false, false, root ? 200 : 503,
       root ? nullptr : "\"spool\""},
      {"stopping (draining)", true, true, true, true, 503, "\"service\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.listening = c.listening;
    f.printing = c.printing;
    f.draining = c.draining;
    chmod(f.spool.path().c_str(), c.spoolWritable ? 0700 : 0500);
    testsupport::HttpReply reply = HttpGet(f.server.port(), "/health");
    chmod(f.spool.path().c_str(), 0700);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    if (c.failing == nullptr) {
      EXPECT_NE(reply.body.find("\"status\":\"ok\""), std::string::npos) << reply.body;
    } else {
      EXPECT_NE(reply.body.find(std::string("\"failing\":[") + c.failing), std::string::npos)
          << reply.body;
    }
  }
}

TEST(StatusServerTest, MetricsPassPromtoolAndCount) {
  Fixture f;
  Counters().JobReceived(IntakeResult::kRefused);
  Counters().IntakeBytes(1000);
  testsupport::HttpReply reply = HttpGet(f.server.port(), "/metrics");
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(testsupport::PromtoolProblems(reply.body), "");
  for (const char* line :
       {"kavelo_intake_connections 3", "kavelo_print_queue_jobs 2", "kavelo_render_workers ",
        "kavelo_spool_free_bytes ", "process_cpu_seconds_total ",
        "process_resident_memory_bytes ", "kavelo_jobs_received_total{result=\"refused\"} "}) {
    EXPECT_NE(reply.body.find(std::string("\n") + line), std::string::npos) << line;
  }
}

TEST(StatusServerTest, HostileClientsNeitherEscapeNorHoldIt) {
  struct Case {
    const char* name;
    // Runs the hostile client; returns the status of its own answer, if any.
    std::function<int(int port)> attack;
    std::vector<int> allowed;  // statuses its own request may get (0: none)
  } cases[] = {
      {"dot-dot path", [](int port) { return HttpGet(port, "/../../../etc/passwd").status; },
       {400, 404}},
      {"encoded dot-dot path",
       [](int port) { return HttpGet(port, "/%2e%2e/%2e%2e/etc/passwd").status; }, {400, 404}},
      {"encoded NUL", [](int port) { return HttpGet(port, "/health%00.html").status; },
       {400, 404}},
      {"raw NUL",
       [](int port) { return HttpGet(port, std::string("/hea\0lth", 8)).status; }, {0, 400, 404}},
      {"an action", [](int port) {
         return HttpRaw(port, "POST /health HTTP/1.1\r\nContent-Length: 0\r\n\r\n").status;
       }, {404, 405}},
      {"1 MB request line",
       [](int port) { return HttpGet(port, "/" + std::string(1 << 20, 'a')).status; }, {0, 414}},
      {"1 MB of headers",
       [](int port) {
         std::string headers;
         for (int i = 0; i < 20000; ++i) headers += "X-" + std::to_string(i) + ": 1234567890\r\n";
         return HttpRaw(port, "GET /health HTTP/1.1\r\n" + headers + "\r\n").status;
       },
       {0, 400, 413, 431}},
      {"1,000 idle connections",
       [](int port) {
         std::vector<int> fds;
         for (int i = 0; i < 1000; ++i) fds.push_back(testsupport::OpenIdleConnection(port));
         std::this_thread::sleep_for(std::chrono::milliseconds(500));
         for (int fd : fds) close(fd);
         return 0;
       },
       {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    int status = c.attack(f.server.port());
    EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), status), c.allowed.end()) << status;
    auto start = Clock::now();
    EXPECT_EQ(HttpGet(f.server.port(), "/health").status, 200);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  }
}

TEST(StatusServerTest, StopEndsHeldConnectionsAtOnce) {
  Fixture f;
  // Slow clients: every worker busy and the waiting list full.
  std::vector<std::unique_ptr<testsupport::RawClient>> slow;
  for (int i = 0; i < 24; ++i) {
    slow.push_back(std::make_unique<testsupport::RawClient>());
    ASSERT_TRUE(slow.back()->Connect(f.server.port()));
    slow.back()->Send("GET /hea");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto start = Clock::now();
  f.server.Stop();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

TEST(StatusServerTest, SlowClientTimesOutWhileOthersAreAnswered) {
  Fixture f;
  testsupport::RawClient slow;
  ASSERT_TRUE(slow.Connect(f.server.port()));
  slow.Send("GET /hea");
  auto start = Clock::now();
  EXPECT_EQ(HttpGet(f.server.port(), "/health").status, 200);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  // Its request never completes: it is closed at the request deadline.
  std::string answer = slow.ReadToEnd();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(HttpLimits().requestMs + 1000));
  EXPECT_EQ(answer.find("200 OK"), std::string::npos);
}

}  // namespace
}  // namespace kavelo::service
