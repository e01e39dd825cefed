// Job intake figures, each beside a baseline measured in the same run:
//   Stream/...      one large XML (KAVELO_BENCH_XML, e.g. 1 GiB) through the
//                   intake into a spool file, with the growth of the
//                   process's resident memory while it streams; beside
//                   LoopbackCopy, a plain loopback TCP copy of the same
//                   bytes into a file.  Both end with the file synced.
//   SmallJobs       8 clients, each sending small jobs one after the other;
//                   every job is durable (spool files, directory, registry)
//                   before its final status; medians of KAVELO_BENCH_JOB_ROUNDS
//                   rounds (default 5).  Beside LpSmallJobs: the same
//                   documents through `lp` from 8 threads into a private CUPS
//                   scheduler (CUPS_SERVER; skipped without it).
//                   Beside it, in the same rounds, Bounded: the same with
//                   the who-may-print checks on (an allow-list of 16
//                   prefixes that matches at its last, the per-client
//                   bounds, the spool reserve).
//   AdmissionChecks the checks alone, per job, against a ledger of 1000
//                   queued jobs: their share of a durable job.
//   OpenConnections 500 connections open at once, all served.
// bench/intake_bench.sh prepares the inputs and the scheduler.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "bench/small_job_clients.h"
#include "platform/process.h"
#include "protocol/intake_wire.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/intake/client_admission.h"
#include "service/intake/intake_listener.h"
#include "service/intake/spool_file.h"
#include "service/queue/job_list.h"
#include "service/queue/print_thread.h"
#include "tools/job_client.h"

namespace kavelo {

using namespace kavelo::service;  // the service parts this bench drives
namespace {

using Clock = std::chrono::steady_clock;

std::string Env(const char* name, const char* fallback = "") {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string MakeTempDir(const char* prefix) {
  std::string name = std::string("/tmp/") + prefix + "-XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  return mkdtemp(buffer.data()) != nullptr ? buffer.data() : "";
}

void RemoveTree(const std::string& path) {
  platform::Process rm;
  if (rm.Start(std::vector<std::string>{"/bin/rm", "-rf", path}, true) == 0) {
    rm.Wait(platform::kWaitInfinite);
  }
}

// Folders of finished rounds, removed when all benchmarks have run.  ext4
// skips inodes freed in the last minutes when it allocates a new one,
// and it checks each of them: deleting a round's thousands of spool files
// right away makes every file the next round creates pay for that scan,
// which a service (whose files leave at printing speed) does not see.
std::vector<std::string> g_removeAtEnd;

void RemoveLater(const std::string& path) { g_removeAtEnd.push_back(path); }

void RemoveFoldersOfRounds() {
  for (const std::string& path : g_removeAtEnd) RemoveTree(path);
  g_removeAtEnd.clear();
}

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Samples the resident set while it lives and keeps the largest value.
class ResidentPeak {
 public:
  ResidentPeak() : start_(ResidentBytes()), peak_(start_) {
    sampler_ = std::thread([this] {
      while (!stop_.load()) {
        long now = ResidentBytes();
        if (now > peak_.load()) peak_.store(now);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~ResidentPeak() { Stop(); }
  void Stop() {
    stop_.store(true);
    if (sampler_.joinable()) sampler_.join();
  }
  double GrowthMiB() const { return static_cast<double>(peak_.load() - start_) / (1 << 20); }

 private:
  long start_;
  std::atomic<long> peak_;
  std::atomic<bool> stop_{false};
  std::thread sampler_;
};

// A service side in this process: event log, print thread (bound to the
// registry, not started: the jobs stay queued and persisted), listener.
class Service {
 public:
  // keepFolders: the folders stay until all benchmarks have run (rounds of
  // many small files); otherwise they go with the service, as the copy
  // baseline's file goes after each copy.
  // printControl: when given, the print thread runs and starts it for every
  // job, one after the other, as the service does.
  explicit Service(int32_t recvBuffer, int32_t backlog = 128, bool persist = true,
                   bool keepFolders = false, const ClientLimits& limits = ClientLimits(),
                   const std::string& printControl = "")
      : keepFolders_(keepFolders) {
    InstallServiceMessageTable();
    spool_ = MakeTempDir("kavelo-bench-spool");
    registry_ = MakeTempDir("kavelo-bench-registry");
    setenv("KAVELO_REGISTRY_DIR", registry_.c_str(), 1);
    channel_.Register(kServiceEventSource);
    // Without a service name the print thread keeps no persisted queue.
    if (persist) printThread_.BindLog(kServiceEventSource);
    IntakeSettings settings;
    settings.port = 0;
    settings.bindAddress = "127.0.0.1";
    settings.maxConnections = backlog;
    settings.timeout = 60000;
    settings.recvBuffer = recvBuffer;
    settings.printerApplication =
        printControl.empty() ? "/opt/kavelo/PrintService/Ostrevo" : printControl;
    settings.printerName = "lp0";
    settings.spoolerDirectory = spool_;
    settings.limits = limits;
    listener_.Initialize(&channel_, &printThread_, settings);
    if (!printControl.empty()) {
      printThread_.set_stop_grace_ms(100);
      printThread_.StartPrinting();
    }
    listener_.Start();
    port_ = listener_.WaitListening(5000);
  }
  ~Service() {
    listener_.Stop();
    listener_.WaitConnectionsIdle(60000);
    printThread_.Stop();
    for (const std::string& folder : {spool_, registry_}) {
      if (keepFolders_) {
        RemoveLater(folder);
      } else {
        RemoveTree(folder);
      }
    }
  }
  int port() const { return port_; }
  size_t queued() const { return printThread_.jobs().size(); }

 private:
  bool keepFolders_;
  std::string spool_, registry_;
  EventLogChannel channel_;
  PrintThread printThread_;
  IntakeListener listener_;
  int port_ = 0;
};

double g_copyRate = 0;  // bytes per second of the baseline, for the summary
double g_streamRate[2] = {0, 0};
double g_streamGrowth[2] = {0, 0};
double g_streamRatio[2] = {0, 0};
double g_spoolOnlyRate = 0;
double g_jobRate = 0, g_lpRate = 0;

// Baseline: the same bytes over a loopback TCP connection into a file with
// 64 KiB buffers and the kernel's default socket buffers, then synced.
// Returns bytes per second.
double CopyOnce(const std::string& source, const std::string& targetDir) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener, 1);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  auto start = Clock::now();
  std::thread sender([&] {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> block(64 * 1024);
    ssize_t got;
    while ((got = read(in, block.data(), block.size())) > 0) {
      for (ssize_t done = 0; done < got;) {
        ssize_t sent = send(fd, block.data() + done, got - done, MSG_NOSIGNAL);
        if (sent <= 0) break;
        done += sent;
      }
    }
    close(in);
    close(fd);
  });
  int connection = accept(listener, nullptr, nullptr);
  std::string path = targetDir + "/copy.xml";
  int out = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<char> block(64 * 1024);
  int64_t total = 0;
  ssize_t got;
  while ((got = recv(connection, block.data(), block.size(), 0)) > 0) {
    if (write(out, block.data(), static_cast<size_t>(got)) != got) break;
    total += got;
  }
  fdatasync(out);
  close(out);
  sender.join();
  close(connection);
  close(listener);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  unlink(path.c_str());
  return static_cast<double>(total) / seconds;
}

// The intake: JobClient streams the file to the listener, which writes it
// in 8196-byte pieces, eight at a time, into its spool file and syncs it
// before the final status.  Returns bytes per second, or 0 when the job was not queued.
double StreamOnce(const std::string& source, const std::string& xsl, int32_t recvBuffer,
                  double* growthMiB) {
  Service service(recvBuffer);
  JobClient client("127.0.0.1", service.port(), 120000);
  struct stat info;
  stat(source.c_str(), &info);
  ResidentPeak peak;
  auto start = Clock::now();
  JobResult result = client.Send("copies=1", JobDocument{source, ""}, JobDocument{xsl, ""});
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  peak.Stop();
  *growthMiB = peak.GrowthMiB();
  if (result.outcome != JobOutcome::kQueued) return 0;
  return static_cast<double>(info.st_size) / seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Rounds of copy, intake with the default RecvBuffer (4096) and intake with
// RecvBuffer 262144, interleaved so that both see the same machine load.
void BM_StreamVsCopy(benchmark::State& state) {
  std::string source = Env("KAVELO_BENCH_XML");
  if (source.empty()) return state.SkipWithError("KAVELO_BENCH_XML is not set");
  std::string xsl = Env("KAVELO_BENCH_XSL");
  int rounds = std::atoi(Env("KAVELO_BENCH_ROUNDS", "3").c_str());
  std::string target = MakeTempDir("kavelo-bench-copy");
  for (auto _ : state) {
    std::vector<double> copy, stream[2], ratio[2], growth[2];
    for (int r = 0; r < rounds; ++r) {
      copy.push_back(CopyOnce(source, target));
      const int32_t buffers[2] = {4096, 262144};
      for (int i = 0; i < 2; ++i) {
        double grown = 0;
        double rate = StreamOnce(source, xsl, buffers[i], &grown);
        if (rate == 0) return state.SkipWithError("the large job was not queued");
        stream[i].push_back(rate);
        growth[i].push_back(grown);
        ratio[i].push_back(rate / copy.back());
      }
    }
    state.SetIterationTime(1);
    state.counters["copy_MiBps"] = Median(copy) / (1 << 20);
    state.counters["intake_MiBps"] = Median(stream[0]) / (1 << 20);
    state.counters["ratio_pct"] = 100 * Median(ratio[0]);
    state.counters["rss_growth_MiB"] = *std::max_element(growth[0].begin(), growth[0].end());
    g_copyRate = Median(copy);
    for (int i = 0; i < 2; ++i) {
      g_streamRate[i] = Median(stream[i]);
      g_streamRatio[i] = Median(ratio[i]);
      g_streamGrowth[i] = *std::max_element(growth[i].begin(), growth[i].end());
    }
  }
  RemoveTree(target);
}

constexpr int kClients = 8;

// CPU time (user + system) in seconds: of this process, or of its children
// that have ended and been reaped (the print controls).
double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct SmallJobsRound {
  double jobsPerSecond = 0;
  double cpuMsPerJob = 0;       // clients and service together, in this process
  double childCpuMsPerJob = 0;  // the print controls the service started
  bool allQueued = false;
};

// The who-may-print checks as a deployment would set them: 16 allowed
// prefixes, the one the clients match last; bounds the round stays below.
ClientLimits BenchClientLimits() {
  std::vector<std::string> entries;
  for (int i = 0; i < 15; ++i) entries.push_back("10." + std::to_string(i) + ".0.0/16");
  entries.push_back("127.0.0.0/8");
  ClientLimits limits;
  std::string invalid;
  AddressList::Parse(entries, &limits.allowedClients, &invalid);
  limits.maxConnectionsPerClient = 32;
  limits.maxQueuedJobsPerClient = 100000;
  limits.maxQueuedBytesPerClient = uint64_t{2048} << 20;
  limits.spoolReserveBytes = uint64_t{256} << 20;
  return limits;
}

// One round: 8 clients, each sending perClient small jobs one after the
// other to a fresh service.  persist false leaves out the registry write
// (the spool files are still synced): a breakdown, not a durable queue.
// bounded turns the who-may-print checks on.
SmallJobsRound SmallJobsOnce(const std::string& xml, const std::string& xsl, int perClient,
                             bool persist, bool bounded = false,
                             const std::string& printControl = "") {
  Service service(4096, 128, persist, /*keepFolders=*/true,
                  bounded ? BenchClientLimits() : ClientLimits(), printControl);
  double cpuBefore = CpuSeconds();
  double childCpuBefore = CpuSeconds(RUSAGE_CHILDREN);
  auto start = Clock::now();
  const int queued = SendSmallJobs(service.port(), kClients, perClient, xml, xsl);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  SmallJobsRound round;
  round.jobsPerSecond = queued / seconds;
  round.cpuMsPerJob = 1000 * (CpuSeconds() - cpuBefore) / std::max(1, queued);
  round.childCpuMsPerJob =
      1000 * (CpuSeconds(RUSAGE_CHILDREN) - childCpuBefore) / std::max(1, queued);
  // With a print control the print thread takes jobs off the queue.
  round.allQueued = queued == kClients * perClient &&
                    (!printControl.empty() || service.queued() == size_t(queued));
  return round;
}

double g_jobCpuMs = 0, g_jobRateMin = 0;
double g_boundedRate = 0, g_boundedCpuMs = 0;
int g_jobRounds = 0;

// Rounds of the durable path and of the breakdown, interleaved so that both
// see the same machine; the disk's flush times vary a lot from one second
// to the next on a shared machine, so medians of several rounds are kept.
void BM_SmallJobs(benchmark::State& state) {
  std::string xml = ReadWhole(Env("KAVELO_BENCH_SMALL_XML"));
  std::string xsl = ReadWhole(Env("KAVELO_BENCH_SMALL_XSL"));
  if (xml.empty()) return state.SkipWithError("KAVELO_BENCH_SMALL_XML is not set");
  const int perClient = static_cast<int>(state.range(0));
  const int rounds = std::max(1, std::atoi(Env("KAVELO_BENCH_JOB_ROUNDS", "5").c_str()));
  for (auto _ : state) {
    std::vector<double> durable, spoolOnly, cpu, bounded, boundedCpu;
    for (int r = 0; r < rounds; ++r) {
      // The durable rounds with and without the checks change places from
      // one round to the next, so neither always follows the other.
      for (int kind : {r % 2, 1 - r % 2, 2}) {
        bool persist = kind != 2;
        SmallJobsRound round = SmallJobsOnce(xml, xsl, perClient, persist, kind == 1);
        if (!round.allQueued) return state.SkipWithError("a job was not queued");
        if (kind == 1) {
          bounded.push_back(round.jobsPerSecond);
          boundedCpu.push_back(round.cpuMsPerJob);
        } else {
          (persist ? durable : spoolOnly).push_back(round.jobsPerSecond);
          if (persist) cpu.push_back(round.cpuMsPerJob);
        }
      }
    }
    g_boundedRate = Median(bounded);
    g_boundedCpuMs = Median(boundedCpu);
    state.counters["bounded_jobs_per_s"] = g_boundedRate;
    state.SetIterationTime(1);
    g_jobRate = Median(durable);
    g_jobRateMin = *std::min_element(durable.begin(), durable.end());
    g_spoolOnlyRate = Median(spoolOnly);
    g_jobCpuMs = Median(cpu);
    g_jobRounds = rounds;
    state.counters["jobs_per_s"] = g_jobRate;
    state.counters["min_jobs_per_s"] = g_jobRateMin;
    state.counters["cpu_ms_per_job"] = g_jobCpuMs;
  }
}

double g_startedRate = 0, g_busyRate = 0;
double g_startedCpuMs = 0, g_startedChildCpuMs = 0, g_busyCpuMs = 0;

// Durable intake while the print thread starts a print control for every
// job (a trivial one, which ends at once) beside durable intake while one
// print control is busy for the whole round (the print thread starts
// nothing more): what starting the print control costs the intake.
// Rounds interleaved.
void BM_SmallJobsStartingPrintControls(benchmark::State& state) {
  std::string xml = ReadWhole(Env("KAVELO_BENCH_SMALL_XML"));
  std::string xsl = ReadWhole(Env("KAVELO_BENCH_SMALL_XSL"));
  if (xml.empty()) return state.SkipWithError("KAVELO_BENCH_SMALL_XML is not set");
  const std::string folder = MakeTempDir("kavelo-bench-controls");
  const std::string trivial = Env("KAVELO_BENCH_TRIVIAL_CONTROL", "/bin/true");
  const std::string busy = folder + "/busy-control";
  {
    std::ofstream script(busy);
    script << "#!/bin/sh\nexec sleep 600\n";
  }
  chmod(busy.c_str(), 0755);
  const int perClient = static_cast<int>(state.range(0));
  const int rounds = std::max(1, std::atoi(Env("KAVELO_BENCH_JOB_ROUNDS", "5").c_str()));
  for (auto _ : state) {
    std::vector<double> started, busyRates, startedCpu, startedChildCpu, busyCpu;
    for (int r = 0; r < rounds; ++r) {
      for (const std::string& control : {trivial, busy}) {
        SmallJobsRound round = SmallJobsOnce(xml, xsl, perClient, true, false, control);
        if (!round.allQueued) return state.SkipWithError("a job was not queued");
        (control == trivial ? started : busyRates).push_back(round.jobsPerSecond);
        (control == trivial ? startedCpu : busyCpu).push_back(round.cpuMsPerJob);
        if (control == trivial) startedChildCpu.push_back(round.childCpuMsPerJob);
      }
    }
    state.SetIterationTime(1);
    g_startedRate = Median(started);
    g_busyRate = Median(busyRates);
    g_startedCpuMs = Median(startedCpu);
    g_startedChildCpuMs = Median(startedChildCpu);
    g_busyCpuMs = Median(busyCpu);
    state.counters["started_jobs_per_s"] = g_startedRate;
    state.counters["busy_jobs_per_s"] = g_busyRate;
  }
  RemoveTree(folder);
}

// Baseline: `lp -d QUEUE sales.xml sales.xsl`, one process per job, from 8
// threads, into a stopped queue of the private scheduler.
void BM_LpSmallJobs(benchmark::State& state) {
  std::string queue = Env("KAVELO_BENCH_LP_QUEUE");
  if (Env("CUPS_SERVER").empty() || queue.empty()) {
    return state.SkipWithError("no private CUPS scheduler (CUPS_SERVER, KAVELO_BENCH_LP_QUEUE)");
  }
  std::string xml = Env("KAVELO_BENCH_SMALL_XML");
  std::string xsl = Env("KAVELO_BENCH_SMALL_XSL");
  const int perClient = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::atomic<int> accepted{0};
    auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&] {
        for (int i = 0; i < perClient; ++i) {
          platform::Process lp;
          int exitCode = -1;
          if (lp.Start(
                  std::vector<std::string>{"/usr/bin/lp", "-d", queue, "-t", "bench", xml, xsl},
                  true) == 0 &&
              lp.Wait(platform::kWaitInfinite, &exitCode) == 0 && exitCode == 0) {
            ++accepted;
          }
        }
      });
    }
    for (std::thread& t : clients) t.join();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["jobs_per_s"] = accepted.load() / seconds;
    g_lpRate = accepted.load() / seconds;
    if (accepted.load() != kClients * perClient) state.SkipWithError("lp refused a job");
  }
}

// Opens n connections that all stay open at once (each past its magic
// number), then completes every exchange.
void BM_OpenConnections(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Service service(4096, /*backlog=*/1024);
    auto start = Clock::now();
    std::vector<int> sockets;
    std::string error;
    for (int i = 0; i < n; ++i) {
      int fd = ConnectTcp("127.0.0.1", service.port(), 60000, &error);
      if (fd < 0) break;
      const std::string magic = protocol::EncodeU32(protocol::kIntakeMagic);
      send(fd, magic.data(), magic.size(), MSG_NOSIGNAL);
      sockets.push_back(fd);
    }
    int open = 0;
    for (int fd : sockets) {
      uint16_t status = 1;
      if (recv(fd, &status, 2, MSG_WAITALL) == 2 && status == 0) ++open;
    }
    // Every connection is open and answered; now each finishes its job.
    const std::string rest = protocol::EncodeCountedString(protocol::kIntakeVersion) +
                             protocol::EncodeCountedString("") +
                             protocol::EncodeCountedFile("<r/>") +
                             protocol::EncodeCountedFile("<s/>");
    int served = 0;
    for (int fd : sockets) send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    for (int fd : sockets) {
      char reply[13];
      if (recv(fd, reply, sizeof reply, MSG_WAITALL) == 13 && reply[11] == 0 && reply[12] == 0) {
        ++served;
      }
      close(fd);
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["open_at_once"] = open;
    state.counters["served"] = served;
    if (served != n) state.SkipWithError("a connection was not served");
  }
}

double g_checksUsPerJob = 0;

// The checks one job goes through, alone: the allow-list, the connection
// count, both documents admitted against the client's ledger (1000 jobs
// queued by others, one by itself) and the spool's free space, the client
// mark on the report, the commit.
void BM_AdmissionChecks(benchmark::State& state) {
  std::string spool = MakeTempDir("kavelo-bench-checks");
  JobList queued;
  ClientAdmission admission;
  admission.Configure(BenchClientLimits(), spool, &queued);
  std::string bound;
  for (int i = 0; i < 1000; ++i) {
    std::string path = spool + "/other" + std::to_string(i) + ".xml";
    QueuedJob job;
    job.number = i + 1;
    job.commandLine =
        "\"P\" \"P\" xml=" + path + ";xsl=x;fromPage=0;toPage=0;printerName=p;copy=1;orien=0";
    queued.Append(job);
    PeerAddress other;
    PeerAddress::Parse("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250), &other);
    ClientAdmission::JobClaim claim(&admission, other);
    claim.AdmitDocument(12000, &bound);
    claim.Commit(path);
  }
  PeerAddress peer;
  PeerAddress::Parse("127.0.0.1", &peer);
  SpoolFile report;
  report.CreateExclusive(spool + "/report.xml");
  uint64_t n = 0;
  auto start = Clock::now();
  for (auto _ : state) {
    bool ok = admission.Allows(peer) && admission.TakeConnection(peer);
    {
      ClientAdmission::JobClaim claim(&admission, peer);
      ok = ok && claim.AdmitDocument(7000, &bound) == ClientAdmission::JobClaim::Verdict::kAdmitted;
      claim.Written(7000);
      ok = ok && claim.AdmitDocument(5000, &bound) == ClientAdmission::JobClaim::Verdict::kAdmitted;
      claim.Written(5000);
      ok = ok && report.SetAttribute(kClientAttribute, FormatPeerAddress(peer));
      // Not committed: the ledger stays at its size, as a queue that
      // prints as fast as it fills.
    }
    admission.ReleaseConnection(peer);
    if (!ok) return state.SkipWithError("a check refused");
    ++n;
  }
  g_checksUsPerJob = 1e6 * std::chrono::duration<double>(Clock::now() - start).count() / n;
  state.counters["us_per_job"] = g_checksUsPerJob;
  report.Close();
  RemoveTree(spool);
}

BENCHMARK(BM_StreamVsCopy)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SmallJobs)
    ->Arg(250)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdmissionChecks)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SmallJobsStartingPrintControls)
    ->Arg(250)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LpSmallJobs)->Arg(25)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenConnections)
    ->Arg(500)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kavelo

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kavelo::RemoveFoldersOfRounds();
  using kavelo::g_copyRate;
  auto mib = [](double rate) { return rate / (1 << 20); };
  std::printf("\nsummary:\n");
  if (g_copyRate > 0) {
    std::printf("  loopback copy into a file (median)   %8.1f MiB/s (baseline)\n", mib(g_copyRate));
    const char* names[2] = {"RecvBuffer 4096 (default)", "RecvBuffer 262144"};
    for (int i = 0; i < 2; ++i) {
      std::printf(
          "  intake, %-26s   %8.1f MiB/s, median ratio %5.1f%% of the copy, "
          "RSS growth at most %.2f MiB\n",
          names[i], mib(kavelo::g_streamRate[i]), 100.0 * kavelo::g_streamRatio[i],
          kavelo::g_streamGrowth[i]);
    }
  }
  if (kavelo::g_jobRate > 0) {
    std::printf(
        "  small jobs, 8 clients, durable        %8.1f jobs/s (median of %d rounds, lowest "
        "%.1f), CPU %.2f ms per job (clients included)\n",
        kavelo::g_jobRate, kavelo::g_jobRounds, kavelo::g_jobRateMin, kavelo::g_jobCpuMs);
    std::printf("  the same, spool synced, no registry   %8.1f jobs/s (median, a breakdown)\n",
                kavelo::g_spoolOnlyRate);
    std::printf(
        "  the same durable, who-may-print on    %8.1f jobs/s (median, %+.1f%% of durable), CPU "
        "%.2f ms per job (%+.1f%%)\n",
        kavelo::g_boundedRate, 100.0 * (kavelo::g_boundedRate / kavelo::g_jobRate - 1),
        kavelo::g_boundedCpuMs, 100.0 * (kavelo::g_boundedCpuMs / kavelo::g_jobCpuMs - 1));
    if (kavelo::g_checksUsPerJob > 0) {
      std::printf(
          "  the checks alone                      %8.2f us per job = %.2f%% of a durable job's "
          "time (1/%.1f jobs/s), %.2f%% of its CPU\n",
          kavelo::g_checksUsPerJob, 100.0 * kavelo::g_checksUsPerJob * 1e-6 * kavelo::g_jobRate,
          kavelo::g_jobRate, 100.0 * kavelo::g_checksUsPerJob / (1000.0 * kavelo::g_jobCpuMs));
    }
  }
  if (kavelo::g_busyRate > 0) {
    std::printf(
        "  small jobs, durable, a print control started for every job %8.1f jobs/s, with the "
        "print control busy %8.1f jobs/s (medians): %.1f%%\n",
        kavelo::g_startedRate, kavelo::g_busyRate,
        100.0 * kavelo::g_startedRate / kavelo::g_busyRate);
    // Where the intake is CPU-bound the rates follow the CPU a job costs.
    std::printf(
        "    CPU per job: %.2f ms with a print control started (%.2f ms of it in the print "
        "controls %s), %.2f ms with the print control busy: %.1f%%\n",
        kavelo::g_startedCpuMs + kavelo::g_startedChildCpuMs, kavelo::g_startedChildCpuMs,
        kavelo::Env("KAVELO_BENCH_TRIVIAL_CONTROL", "/bin/true").c_str(), kavelo::g_busyCpuMs,
        100.0 * kavelo::g_busyCpuMs / (kavelo::g_startedCpuMs + kavelo::g_startedChildCpuMs));
  }
  if (kavelo::g_lpRate > 0) {
    std::printf("  lp into private CUPS, 8 threads %7.1f jobs/s (baseline)\n", kavelo::g_lpRate);
  }
  return 0;
}
