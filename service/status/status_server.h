// The service's read-only HTTP side: /health for a supervisor, /metrics for
// a monitoring system, the status page (/, /jobs/N) for an administrator and
// the job history as JSON (/api/jobs, /api/jobs/N) in the one JSON form of
// the jobs library.  Its own threads and bounds (BoundedHttpServer) and its
// own read-only connection to the history, so that nothing a client of it
// does delays the intake or the print thread; no action is reachable
// through it.
#ifndef KAVELO_SERVICE_STATUS_SERVER_H_
#define KAVELO_SERVICE_STATUS_SERVER_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/job_history.h"
#include "service/status/bounded_http_server.h"
#include "service/status/queue_counts.h"
#include "service/status/status_page.h"
#include "service/status/status_settings.h"

namespace kavelo::service {

class EventLogChannel;

// What the status side asks the rest of the service, each from any thread.
struct StatusProbes {
  std::function<bool()> intakeListening;
  std::function<bool()> printThreadAlive;
  std::function<bool()> draining;  // the service is stopping: out of any rotation
  std::function<int64_t()> openConnections;  // intake connections not yet ended
  std::function<int64_t()> waitingJobs;      // jobs in the print queue, the printing one too
  std::string spoolDirectory;
  std::string historyPath;  // the job history, read only; empty: none
  std::string version;
  // However often a client scrapes, /metrics reads the history at most once
  // per this interval (a benchmark sets 0 to time every read).
  int64_t historyReadIntervalMs = 1000;
};

struct HttpAnswer {
  int status = 200;
  std::string contentType;
  std::string body;
};

class StatusServer {
 public:
  StatusServer();
  ~StatusServer();
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;

  // Listens on the settings' address and port (the system's choice for a
  // port of 0 when anyPort) and answers from the probes.  A port of 0
  // without anyPort leaves the HTTP side off.  Returns false, after
  // reporting it, when it cannot listen; the service goes on without it.
  bool Start(EventLogChannel* channel, const StatusSettings& settings, StatusProbes probes,
             bool anyPort = false);
  // Ends the listener and every connection; returns within a fraction of a
  // second.  Idempotent.
  void Stop();
  // The port it listens on; 0 when it does not.
  int port() const { return port_; }

  // The answers, also for benchmarks and tests.
  HttpAnswer Health() const;
  HttpAnswer Metrics();
  HttpAnswer Page();
  HttpAnswer JobPage(const std::string& number);
  // all: the ended jobs too, newest first (failedOnly, sinceSeconds ago, at
  // most limit of them), as kavelo-jobs --all lists them.
  HttpAnswer JobsJson(bool all, bool failedOnly, int64_t sinceSeconds, size_t limit);
  HttpAnswer JobJson(const std::string& number);

  // The ended jobs an /api/jobs listing gives at most unless asked for more.
  static constexpr size_t kDefaultListLimit = 1000;

 private:
  // The history, opened when first needed (the service makes it at its
  // start); null when it cannot be read.
  jobs::JobHistory* History();
  // Takes in the jobs that ended since the last look: the ended-jobs
  // counters and the stage histogram (jobs that ended since the start), the
  // jobs per printer today, the newest failures and ended jobs.  Each look
  // reads only what ended since the one before (and a minute more, for a
  // job whose end was written late), so neither the page nor a scrape costs
  // more with a longer history.  historyMutex_ held.
  void LookAtEndedJobs();
  std::string HealthSummary(int* status, std::string* json) const;
  // The job a path names; false when it names none.  historyMutex_ held.
  bool FindJob(const std::string& number, jobs::JobRecord* job,
               std::vector<jobs::JobEvent>* events);

  StatusProbes probes_;
  int64_t startedMs_ = 0;
  std::mutex historyMutex_;
  jobs::JobHistory history_;
  QueueCounter queueCounter_;
  QueueCounts queueCounts_;    // as last read, at queueCountsMs_; guarded by historyMutex_
  int64_t queueCountsMs_ = 0;
  // What LookAtEndedJobs gathered.  Guarded by historyMutex_.
  struct EndedJobs {
    int64_t newestMs = 0;               // the newest end seen
    std::map<int64_t, int64_t> recent;  // number -> end, of the jobs ended in the overlap
    int64_t day = 0;                    // days since 1970 of today's counts
    std::map<std::string, PrinterDay> today;
    std::deque<jobs::JobRecord> failures;  // newest first
    std::deque<jobs::JobRecord> ended;     // newest first
  } ended_;
  std::string renderSocket_;  // the account's warm renderer, counted as a worker
  std::unique_ptr<BoundedHttpServer> server_;
  int port_ = 0;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_STATUS_SERVER_H_
