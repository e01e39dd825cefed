// The real Brelvane service with its status side on: /health follows the
// spool folder, /metrics follows jobs that print and fail, and clients that
// flood, stall or try to escape the status side hold back neither the
// intake nor the printing.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/test/brelvane_harness.h"
#include "service/test/http_fixture.h"
#include "service/test/intake_fixture.h"
#include "testsupport/child_process.h"
#include "tools/job_client.h"

namespace kavelo::testsupport {
namespace {

constexpr const char* kParametersKey = "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\Parameters";

// A world whose print control fails (exit status 3) the job after a
// "fail-next" file was made, and a service with its status side on.
struct StatusWorld {
  BrelvaneWorld world;
  int port = FreePort();
  int statusPort = FreePort();
  Child child;

  StatusWorld() {
    WriteFile(world.printControl(), "#!/bin/sh\necho \"start $*\" >> '" + world.printLog() +
                                        "'\nif [ -e '" + failNext() + "' ]; then rm -f '" +
                                        failNext() + "'; exit 3; fi\necho end >> '" +
                                        world.printLog() + "'\n");
    world.InstallConfigured(port, "nobody");
    WriteDwordValue(kParametersKey, "StatusPort", static_cast<uint32_t>(statusPort));
    EXPECT_TRUE(child.Start(BinPath("Brelvane"), {"Brelvane"}, world.Environment(false)));
    EXPECT_TRUE(WaitUntil(30000, [&] { return HttpGet(statusPort, "/health").status == 200; }))
        << ::testing::PrintToString(world.EventIds());
  }
  ~StatusWorld() {
    if (stopped) return;
    child.Signal(SIGTERM);
    int exitCode = -1;
    child.Wait(30000, &exitCode);
  }
  bool stopped = false;
  std::string failNext() const { return world.root() + "/fail-next"; }

  JobOutcome Send() {
    JobClient client("127.0.0.1", port, 10000);
    return client.Send("", JobDocument{"", "<r/>"}, JobDocument{"", "<s/>"}).outcome;
  }
  double Metric(const std::string& sample) {
    return MetricValue(HttpGet(statusPort, "/metrics").body, sample);
  }
};

TEST(BrelvaneStatusTest, HealthAndMetricsFollowTheService) {
  StatusWorld w;
  const std::string printed = "kavelo_jobs_ended_total{result=\"printed\"}";
  const std::string failed = "kavelo_jobs_ended_total{result=\"failed\"}";
  EXPECT_EQ(w.Metric(printed), 0);
  ASSERT_EQ(w.Send(), JobOutcome::kQueued);
  EXPECT_TRUE(WaitUntil(20000, [&] { return w.Metric(printed) == 1; }));
  WriteFile(w.failNext(), "");
  chown(w.failNext().c_str(), 65534, 65534);
  ASSERT_EQ(w.Send(), JobOutcome::kQueued);
  EXPECT_TRUE(WaitUntil(20000, [&] { return w.Metric(failed) == 1; }));
  // A job the service refuses, and a client that goes away after the magic.
  JobClient refusedClient("127.0.0.1", w.port, 10000);
  EXPECT_EQ(refusedClient.Send("copies=2000000000", JobDocument{"", "<r/>"}, JobDocument{"", "<s/>"})
                .outcome,
            JobOutcome::kRefused);
  RawClient gone;
  ASSERT_TRUE(gone.Connect(w.port));
  gone.Send(Magic());
  gone.Read(2);
  gone.Close();
  const std::string failedIntake = "kavelo_jobs_received_total{result=\"failed\"}";
  EXPECT_TRUE(WaitUntil(10000, [&] { return w.Metric(failedIntake) == 1; }));
  std::string metrics = HttpGet(w.statusPort, "/metrics").body;
  EXPECT_EQ(MetricValue(metrics, printed), 1);
  EXPECT_EQ(MetricValue(metrics, "kavelo_jobs_received_total{result=\"queued\"}"), 2);
  EXPECT_EQ(MetricValue(metrics, "kavelo_jobs_received_total{result=\"refused\"}"), 1);
  EXPECT_GT(MetricValue(metrics, "kavelo_intake_bytes_total"), 0);
  EXPECT_EQ(MetricValue(metrics, "kavelo_job_stage_seconds_count{stage=\"total\"}"), 2);
  EXPECT_EQ(PromtoolProblems(metrics), "");

  // The API answers what kavelo-jobs --json prints.
  struct Same {
    const char* path;
    std::vector<std::string> args;
  } same[] = {{"/api/jobs/1", {"show", "1", "--json"}},
              {"/api/jobs?all=1", {"--all", "--json"}},
              {"/api/jobs?all=1&failed=1", {"--all", "--failed", "--json"}}};
  for (const Same& s : same) {
    std::vector<std::string> argv = {BinPath("kavelo-jobs")};
    argv.insert(argv.end(), s.args.begin(), s.args.end());
    std::string out, err;
    ASSERT_EQ(RunProgram(argv, "", &out, &err), 0) << err;
    HttpReply reply = HttpGet(w.statusPort, s.path);
    EXPECT_EQ(reply.status, 200) << s.path;
    EXPECT_EQ(reply.body, out) << s.path;
  }
  EXPECT_NE(HttpGet(w.statusPort, "/api/jobs/1").body.find("\"state\":\"printed\""),
            std::string::npos);
  EXPECT_EQ(HttpGet(w.statusPort, "/api/jobs/999").status, 404);

  // The account cannot write the spool folder any more, then again.
  if (geteuid() == 0) {
    chmod(w.world.spoolDir().c_str(), 0500);
    HttpReply sick = HttpGet(w.statusPort, "/health");
    chmod(w.world.spoolDir().c_str(), 0755);
    EXPECT_EQ(sick.status, 503);
    EXPECT_NE(sick.body.find("\"failing\":[\"spool\"]"), std::string::npos) << sick.body;
    EXPECT_EQ(HttpGet(w.statusPort, "/health").status, 200);
  }
}

TEST(BrelvaneStatusTest, HostileHttpHoldsBackNeitherIntakeNorPrinting) {
  StatusWorld w;
  for (const std::string& path : {"/" + std::string(1 << 20, 'a'), std::string("/../../etc/passwd"),
                                  std::string("/%2e%2e/%2e%2e/etc/passwd"),
                                  std::string("/health\0/../x", 13)}) {
    HttpReply reply = HttpGet(w.statusPort, path);
    EXPECT_TRUE(reply.status == 0 || reply.status >= 400) << reply.status;
    EXPECT_EQ(reply.body.find("root:"), std::string::npos);
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> attackers;
  std::vector<int> idle;
  for (int i = 0; i < 1000; ++i) idle.push_back(OpenIdleConnection(w.statusPort));
  attackers.emplace_back([&] {  // a slow client: a byte every half second
    RawClient slow;
    if (!slow.Connect(w.statusPort)) return;
    std::string request = "GET /metrics HTTP/1.1\r\n";
    for (size_t i = 0; !stop && slow.Send(std::string(1, request[i % request.size()])); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  });

  // Meanwhile a job is received and printed.
  EXPECT_EQ(w.Send(), JobOutcome::kQueued);
  EXPECT_TRUE(WaitUntil(20000, [&] {
    return ReadFile(w.world.printLog()).find("end") != std::string::npos;
  })) << ReadFile(w.world.printLog());

  stop = true;
  for (std::thread& attacker : attackers) attacker.join();
  for (int fd : idle) close(fd);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(WaitUntil(10000, [&] { return HttpGet(w.statusPort, "/health").status == 200; }));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  // A stop while 1,000 connections wait ends within seconds.
  for (int i = 0; i < 1000; ++i) idle[static_cast<size_t>(i)] = OpenIdleConnection(w.statusPort);
  start = std::chrono::steady_clock::now();
  w.child.Signal(SIGTERM);
  int exitCode = -1;
  w.stopped = w.child.Wait(10000, &exitCode);
  EXPECT_TRUE(w.stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(exitCode, 0);
  for (int fd : idle) close(fd);
}

}  // namespace
}  // namespace kavelo::testsupport
