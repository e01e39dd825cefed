// Job history figures, each beside a baseline measured in the same run:
//   IntakeHistory  8 clients sending small durable jobs to a service whose
//                  print control is busy with a job that does not end, with
//                  the history on and (baseline) off; medians of
//                  KAVELO_BENCH_JOB_ROUNDS rounds (default 5), interleaved.
//                  Target: on >= 90% of off.
//   ListAll        `kavelo-jobs --all` over 100,000 ended jobs (target
//                  < 0.5 s); ListQueue: `kavelo-jobs` with 10,000 queued
//                  (target < 0.3 s).  Baseline: the sqlite3 shell writing
//                  the same rows (`SELECT *`), as a floor for reading them.
// Run: build/bin/jobs_bench (KAVELO_BENCH_SMALL_XML / _XSL: the small
// report and stylesheet; default the samples of printcontrol/testdata).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include "bench/small_job_clients.h"
#include "jobs/job_history.h"
#include "platform/process.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/intake/intake_listener.h"
#include "service/queue/print_thread.h"
#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"
#include "tools/job_client.h"

namespace kavelo {
namespace {

using Clock = std::chrono::steady_clock;
using namespace kavelo::service;  // the service parts this bench drives

constexpr int kClients = 8;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

std::string Env(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// A service in this process: a print thread whose print control sleeps
// until the round ends (the first job keeps it busy), and the listener.
class BusyService {
 public:
  explicit BusyService(bool history)
      : registryEnv_("KAVELO_REGISTRY_DIR", dir_.path() + "/registry") {
    InstallServiceMessageTable();
    for (const char* folder : {"/registry", "/spool"}) mkdir((dir_.path() + folder).c_str(), 0700);
    // A history that cannot be opened is off: one event, and the jobs go on.
    if (!history) mkdir((dir_.path() + "/registry/jobs.db").c_str(), 0700);
    const std::string control = dir_.path() + "/busy-print-control";
    testsupport::WriteFile(control, "#!/bin/sh\nwhile [ ! -e '" + dir_.path() +
                                        "/done' ]; do sleep 0.05; done\n");
    chmod(control.c_str(), 0755);
    channel_.Register(kServiceEventSource);
    printThread_.BindLog(kServiceEventSource);
    printThread_.set_stop_grace_ms(100);
    printThread_.StartPrinting();
    IntakeSettings settings;
    settings.port = 0;
    settings.bindAddress = "127.0.0.1";
    settings.maxConnections = 128;
    settings.timeout = 60000;
    settings.printerApplication = control;
    settings.printerName = "lp0";
    settings.spoolerDirectory = dir_.path() + "/spool";
    listener_.Initialize(&channel_, &printThread_, settings);
    listener_.Start();
    port_ = listener_.WaitListening(5000);
  }
  ~BusyService() {
    listener_.Stop();
    testsupport::WriteFile(dir_.path() + "/done", "");
    printThread_.Stop();
  }
  int port() const { return port_; }
  bool historyOpen() { return printThread_.desk().historyOpen(); }

 private:
  testsupport::TempDir dir_{"kavelo-jobs-bench"};
  testsupport::ScopedEnv registryEnv_;
  EventLogChannel channel_;
  PrintThread printThread_;
  IntakeListener listener_;
  int port_ = 0;
};

double IntakeRound(bool history, const std::string& xml, const std::string& xsl, int perClient,
                   bool* ok) {
  BusyService service(history);
  *ok = service.historyOpen() == history;
  auto start = Clock::now();
  const int queued = SendSmallJobs(service.port(), kClients, perClient, xml, xsl);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  *ok = *ok && queued == kClients * perClient;
  return queued / seconds;
}

void BM_IntakeHistory(benchmark::State& state) {
  const std::string samples = std::string(KAVELO_SOURCE_DIR) + "/printcontrol/testdata";
  std::string xml = testsupport::ReadFile(Env("KAVELO_BENCH_SMALL_XML", samples + "/sales.xml"));
  std::string xsl = testsupport::ReadFile(Env("KAVELO_BENCH_SMALL_XSL", samples + "/sales.xsl"));
  if (xml.empty() || xsl.empty()) return state.SkipWithError("no small report or stylesheet");
  const int rounds = std::max(1, std::atoi(Env("KAVELO_BENCH_JOB_ROUNDS", "5").c_str()));
  for (auto _ : state) {
    std::vector<double> on, off;
    for (int r = 0; r < rounds; ++r) {
      for (bool history : {true, false}) {
        bool ok = false;
        double rate = IntakeRound(history, xml, xsl, static_cast<int>(state.range(0)), &ok);
        if (!ok) return state.SkipWithError("a job was not queued, or the history not as asked");
        (history ? on : off).push_back(rate);
      }
    }
    state.SetIterationTime(1);
    state.counters["on_jobs_per_s"] = Median(on);
    state.counters["off_jobs_per_s"] = Median(off);
    state.counters["ratio_pct"] = 100 * Median(on) / Median(off);
  }
}
BENCHMARK(BM_IntakeHistory)->Arg(50)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// A registry folder with a history of ended jobs and queued ones.
class FilledHistory {
 public:
  FilledHistory(int ended, int queued) : env_("KAVELO_REGISTRY_DIR", dir_.path()) {
    jobs::JobHistory history;
    history.Open(jobs::DefaultHistoryPath(), jobs::JobHistory::Mode::kReadWrite);
    std::vector<jobs::JobRecord> rows;
    const int64_t now = jobs::NowMs();
    for (int i = 1; i <= ended + queued; ++i) {
      jobs::JobRecord job;
      job.number = i;
      job.state = i <= ended ? (i % 50 == 0 ? jobs::JobState::kFailed : jobs::JobState::kPrinted)
                             : jobs::JobState::kQueued;
      job.receivedMs = now - (ended + queued - i) * 1000;
      job.endedMs = i <= ended ? job.receivedMs + 500 : 0;
      job.queueOrder = i;
      job.title = "Monthly sales report " + std::to_string(i);
      job.printer = "Office Laser";
      job.clientAddress = "10.1.2.3";
      job.clientPort = 40000 + i % 20000;
      job.xmlBytes = 20000;
      job.xslBytes = 4000;
      job.commandLine = "\"/opt/kavelo/PrintService/Ostrevo\" xml=/spool/" + std::to_string(i);
      if (job.state == jobs::JobState::kFailed) job.failure = "Ostrevo: Error:printer off";
      rows.push_back(job);
    }
    ok_ = history.Add(rows);
  }
  bool ok() const { return ok_; }

 private:
  testsupport::TempDir dir_{"kavelo-jobs-bench"};
  testsupport::ScopedEnv env_;
  bool ok_ = false;
};

// Runs a program with its output to /dev/null; its wall time in seconds.
double TimedRun(const std::vector<std::string>& args) {
  platform::Process process;
  auto start = Clock::now();
  if (process.Start(args, /*quiet=*/true) != 0) return -1;
  int exitCode = -1;
  if (process.Wait(60000, &exitCode) != 0 || exitCode != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Listing(benchmark::State& state, int ended, int queued,
             const std::vector<std::string>& jobsArgs, const char* select) {
  FilledHistory filled(ended, queued);
  if (!filled.ok()) return state.SkipWithError("the history could not be filled");
  std::vector<std::string> tool = {std::string(KAVELO_BIN_DIR) + "/kavelo-jobs"};
  tool.insert(tool.end(), jobsArgs.begin(), jobsArgs.end());
  const std::vector<std::string> baseline = {"sqlite3", jobs::DefaultHistoryPath(), select};
  for (auto _ : state) {
    std::vector<double> tools, baselines;
    for (int r = 0; r < 5; ++r) {
      double a = TimedRun(tool);
      double b = TimedRun(baseline);
      if (a < 0 || b < 0) return state.SkipWithError("kavelo-jobs or sqlite3 failed");
      tools.push_back(a);
      baselines.push_back(b);
    }
    state.SetIterationTime(Median(tools));
    state.counters["kavelo_jobs_s"] = Median(tools);
    state.counters["sqlite3_s"] = Median(baselines);
    state.counters["ratio"] = Median(tools) / Median(baselines);
  }
}

void BM_ListAll(benchmark::State& state) {
  Listing(state, 100000, 0, {"--all"}, "SELECT * FROM jobs ORDER BY ended_ms DESC");
}
void BM_ListAllJson(benchmark::State& state) {
  Listing(state, 100000, 0, {"--all", "--json"}, "SELECT * FROM jobs ORDER BY ended_ms DESC");
}
void BM_ListQueue(benchmark::State& state) {
  Listing(state, 100000, 10000, {}, "SELECT * FROM jobs WHERE ended_ms=0 ORDER BY queue_order");
}
BENCHMARK(BM_ListAll)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListAllJson)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListQueue)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavelo

BENCHMARK_MAIN();
