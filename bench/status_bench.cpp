// The status side's figures beside their baselines, in one run:
//   GET /metrics and GET / with 100,000 jobs in the history (ended over the
//   last 30 days, and all ended today), beside GET /health over the same
//   HTTP path; medians of many requests, each on a new connection as the
//   server answers one request per connection;
//   durable intake of the real Brelvane (8 clients, small jobs, the print
//   control busy) with and without a client scraping /metrics ten times a
//   second, rounds interleaved, medians and their ratio.
//   bench/status_bench.sh [BUILD_DIR]
// Environment: KAVELO_BENCH_REQUESTS (default 200), KAVELO_BENCH_JOB_ROUNDS
// (default 5 per mode), KAVELO_BENCH_JOBS_PER_CLIENT (default 100).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <sqlite3.h>

#include "jobs/job_history.h"
#include "platform/account.h"
#include "service/status/status_server.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"
#include "testsupport/temp_registry.h"
#include "bench/small_job_clients.h"
#include "tools/job_client.h"

namespace kavelo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int EnvInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double Percentile90(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() * 9 / 10];
}

// 100,000 ended jobs (every 50th failed), 10 queued and one printing; the
// ended ones spread evenly over the span before now.  The history makes its
// file and tables; the rows go in one transaction of a connection of this
// setup's own (a write per job through the history takes minutes).
void FillHistory(const std::string& path, int64_t spanMs) {
  jobs::JobHistory history;
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  if (!history.Open(path, jobs::JobHistory::Mode::kReadWrite) ||
      sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db,
                         "INSERT INTO jobs(number, state, received_ms, started_ms, ended_ms,"
                         " client_address, client_port, title, printer, xml_bytes, xsl_bytes,"
                         " documents, wait_seconds, transform_seconds, render_seconds,"
                         " spool_seconds, exit_status, failure, command_line, queue_order)"
                         " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,1,0.4,2.1,0.3,?,?,?,?)",
                         -1, &insert, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "cannot fill %s: %s\n", path.c_str(), db ? sqlite3_errmsg(db) : "");
    std::exit(1);
  }
  const int64_t now = jobs::NowMs();
  const int kEnded = 100000;
  for (int i = 1; i <= kEnded + 11; ++i) {
    int64_t ended = 0, received = 0, started = 0;
    const char* state = "queued";
    if (i <= kEnded) {
      ended = now - spanMs + spanMs * i / (kEnded + 1);
      received = ended - 4000;
      started = ended - 3000;
      state = i % 50 == 0 ? "failed" : "printed";
    } else {
      received = now - 1000 * (kEnded + 12 - i);
      if (i == kEnded + 1) {
        state = "printing";
        started = now - 500;
      }
    }
    const std::string client = "10.0.0." + std::to_string(i % 200);
    const std::string title = "Monthly sales report " + std::to_string(i);
    const std::string printer = "Printer " + std::to_string(i % 7);
    const std::string failure = i % 50 == 0 ? "Ostrevo: the printer is off" : "";
    const std::string line = "job " + std::to_string(i);
    int n = 1;
    sqlite3_bind_int64(insert, n++, i);
    sqlite3_bind_text(insert, n++, state, -1, SQLITE_STATIC);
    for (int64_t value : {received, started, ended}) sqlite3_bind_int64(insert, n++, value);
    sqlite3_bind_text(insert, n++, client.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, n++, 40000 + i % 1000);
    sqlite3_bind_text(insert, n++, title.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, n++, printer.c_str(), -1, SQLITE_TRANSIENT);
    for (int64_t value : {20000 + i % 5000, 8000, ended != 0 ? 1 : 0, ended != 0 ? 0 : -1}) {
      sqlite3_bind_int64(insert, n++, value);
    }
    sqlite3_bind_text(insert, n++, failure.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, n++, line.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, n++, i);
    if (sqlite3_step(insert) != SQLITE_DONE) {
      std::fprintf(stderr, "history write failed: %s\n", sqlite3_errmsg(db));
      std::exit(1);
    }
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Milliseconds per GET of the path, one connection each.
std::vector<double> TimeGets(int port, const char* path, int requests) {
  std::vector<double> ms;
  for (int i = 0; i < requests; ++i) {
    httplib::Client client("127.0.0.1", port);
    auto start = Clock::now();
    auto result = client.Get(path);
    double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!result || result->status != 200) {
      std::fprintf(stderr, "GET %s failed\n", path);
      std::exit(1);
    }
    ms.push_back(took);
  }
  return ms;
}

void PagesWithFullHistory(const testsupport::TempDir& top, int requests) {
  struct Layout {
    const char* name;
    int64_t spanMs;
  } layouts[] = {{"ended over 30 days", 30LL * 86400 * 1000}, {"all ended today", 0}};
  const int64_t sinceMidnight = jobs::NowMs() % (86400LL * 1000);
  for (Layout& layout : layouts) {
    if (layout.spanMs == 0) layout.spanMs = std::max<int64_t>(sinceMidnight - 1000, 60000);
    std::string path = top.path() + "/" + std::to_string(layout.spanMs) + ".db";
    auto fillStart = Clock::now();
    FillHistory(path, layout.spanMs);
    std::fprintf(stderr, "history of 100,011 jobs (%s) written in %.1f s\n", layout.name,
                 std::chrono::duration<double>(Clock::now() - fillStart).count());
    service::StatusProbes probes;
    probes.intakeListening = [] { return true; };
    probes.printThreadAlive = [] { return true; };
    probes.spoolDirectory = top.path();
    probes.historyPath = path;
    probes.version = "bench";
    probes.historyReadIntervalMs = 0;  // every scrape reads the history
    service::StatusServer server;
    service::StatusSettings settings;
    settings.port = 0;
    server.Start(nullptr, settings, probes, /*anyPort=*/true);
    std::printf("100,000 jobs %s:\n", layout.name);
    for (const char* target : {"/health", "/metrics", "/"}) {
      TimeGets(server.port(), target, 5);  // warm: the history's pages in the cache
      std::vector<double> ms = TimeGets(server.port(), target, requests);
      std::printf("  GET %-9s median %7.2f ms, 90th percentile %7.2f ms%s\n", target, Median(ms),
                  Percentile90(ms), std::string(target) == "/health" ? " (baseline)" : "");
    }
  }
}

// The real service with its status side on and a print control that takes
// a tenth of a second per job.
struct RunningService {
  testsupport::TempDir dir{"kavelo-status-bench"};
  testsupport::ChildProcess child;
  int port = 0;
  int statusPort = 0;

  static int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
  }

  explicit RunningService(const std::string& binDir) {
    const std::string root = dir.path();
    setenv("KAVELO_REGISTRY_DIR", (root + "/registry").c_str(), 1);
    setenv("KAVELO_EVENTLOG", (root + "/events.jsonl").c_str(), 1);
    setenv("KAVELO_SPOOLER", ("dir:" + root + "/printers").c_str(), 1);
    fs::create_directories(root + "/registry");
    fs::create_directories(root + "/spool");
    fs::create_directories(root + "/printers/BenchPrinter");
    testsupport::WriteFile(root + "/printers/default", "BenchPrinter");
    testsupport::WriteFile(root + "/print-control", "#!/bin/sh\nsleep 0.1\n");
    chmod((root + "/print-control").c_str(), 0755);
    port = FreePort();
    statusPort = FreePort();
    std::string out, err;
    testsupport::RunProgram({binDir + "/Brelvane", "-RegServer"}, "", &out, &err);
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\Brelvane";
    testsupport::WriteDwordValue(key + "\\Parameters", "Port", static_cast<uint32_t>(port));
    testsupport::WriteDwordValue(key + "\\Parameters", "StatusPort",
                                 static_cast<uint32_t>(statusPort));
    testsupport::WriteTextValue(key + "\\Parameters", "PrinterApplication", root + "/print-control");
    testsupport::WriteTextValue(key + "\\Parameters", "SpoolerDirectory", root + "/spool");
    testsupport::WriteDwordValue(key + "\\Parameters", "UseDefaultPrinter", 1);
    platform::Account nobody;
    if (platform::RunsAsRoot() && platform::LookUpAccount("nobody", &nobody)) {
      testsupport::WriteTextValue(key, "ObjectName", "nobody");
      for (auto& entry : fs::recursive_directory_iterator(root)) {
        lchown(entry.path().c_str(), nobody.uid, nobody.gid);
      }
      lchown(root.c_str(), nobody.uid, nobody.gid);
    }
    child.Start({binDir + "/Brelvane"});
    for (int i = 0; i < 300; ++i) {
      httplib::Client client("127.0.0.1", statusPort);
      auto result = client.Get("/health");
      if (result && result->status == 200) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    child.Kill();
    child.Wait();
    throw std::runtime_error("the service did not start: " +
                             testsupport::ReadFile(root + "/events.jsonl"));
  }
  ~RunningService() {
    child.Kill();
    child.Wait();
  }
  RunningService(const RunningService&) = delete;
  RunningService& operator=(const RunningService&) = delete;
};

double IntakeRound(int port, int perClient, const std::string& xml, const std::string& xsl) {
  auto start = Clock::now();
  const int queued = SendSmallJobs(port, 8, perClient, xml, xsl);
  if (queued != 8 * perClient) throw std::runtime_error("a job was not queued");
  return queued / std::chrono::duration<double>(Clock::now() - start).count();
}

void IntakeWhileScraped(const std::string& binDir, int rounds, int perClient) {
  const std::string samples = std::string(KAVELO_SOURCE_DIR) + "/printcontrol/testdata/";
  const std::string xml = testsupport::ReadFile(samples + "sales.xml");
  const std::string xsl = testsupport::ReadFile(samples + "sales.xsl");
  RunningService service(binDir);
  std::vector<double> plain, scraped, scrapeMs;
  auto scrapedRound = [&] {
    std::atomic<bool> stop{false};
    std::thread scraper([&] {
      while (!stop.load()) {
        auto start = Clock::now();
        httplib::Client client("127.0.0.1", service.statusPort);
        auto result = client.Get("/metrics");
        if (result && result->status == 200) {
          scrapeMs.push_back(
              std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::this_thread::sleep_until(start + std::chrono::milliseconds(100));
      }
    });
    scraped.push_back(IntakeRound(service.port, perClient, xml, xsl));
    stop = true;
    scraper.join();
  };
  // The queue and the history grow from round to round: the order of the
  // two modes alternates, so that neither always meets the longer queue.
  for (int r = 0; r < rounds; ++r) {
    if (r % 2 == 1) scrapedRound();
    plain.push_back(IntakeRound(service.port, perClient, xml, xsl));
    if (r % 2 == 0) scrapedRound();
  }
  std::printf("durable intake, 8 clients x %d small jobs, the print control busy, %d rounds each:\n",
              perClient, rounds);
  std::printf("  without a scraper    median %7.1f jobs/s (baseline)\n", Median(plain));
  std::printf("  /metrics 10 times/s  median %7.1f jobs/s, ratio %.1f%% of the baseline; "
              "%zu scrapes, median %.2f ms\n",
              Median(scraped), 100 * Median(scraped) / Median(plain), scrapeMs.size(),
              Median(scrapeMs));
}

}  // namespace
}  // namespace kavelo

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string binDir = argc > 1 ? argv[1] : KAVELO_BIN_DIR;
  try {
    kavelo::testsupport::TempDir top("kavelo-status-bench-history");
    kavelo::PagesWithFullHistory(top, kavelo::EnvInt("KAVELO_BENCH_REQUESTS", 200));
    kavelo::IntakeWhileScraped(binDir, kavelo::EnvInt("KAVELO_BENCH_JOB_ROUNDS", 5),
                               kavelo::EnvInt("KAVELO_BENCH_JOBS_PER_CLIENT", 100));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "status_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
