// The job history: one SQLite database per service, beside the registry
// hives (so two services with separate registry folders never share it),
// one row per job and the events each job caused.
//
// The history never decides whether a job prints: the persisted queue does.
// Every write returns false on failure (lastError() says why) and the
// caller reports it; nothing here raises.  Writers wait at most
// kBusyTimeoutMs for another writer (the service and its print controls
// share the file).  Thread safe: every call takes the object's lock.
#ifndef KAVELO_JOBS_JOB_HISTORY_H_
#define KAVELO_JOBS_JOB_HISTORY_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/job_record.h"

struct sqlite3;

namespace kavelo::jobs {

// "jobs.db" in the registry folder (KAVELO_REGISTRY_DIR, else the default).
std::string DefaultHistoryPath();
// "jobs.sock" in the registry folder: the service's control socket.
std::string DefaultControlSocketPath();

// What the history listing selects: ended jobs, newest first.
struct HistoryFilter {
  int64_t sinceMs = 0;      // ended at or after; 0: all
  bool failedOnly = false;  // only failed jobs
};

// What a listing shows: the current jobs (printing, then the queue in print
// order) and, with all, the ended ones the filter selects, newest first.
struct ListingOptions {
  bool all = false;
  HistoryFilter filter;
};

class JobHistory {
 public:
  static constexpr int kBusyTimeoutMs = 2000;
  enum class Mode { kReadOnly, kReadWrite };

  JobHistory() = default;
  ~JobHistory();
  JobHistory(const JobHistory&) = delete;
  JobHistory& operator=(const JobHistory&) = delete;

  // Opens the database.  kReadWrite creates the file (group-writable, as the
  // registry hives) and its tables when missing; kReadOnly never writes.
  bool Open(const std::string& path, Mode mode);
  bool IsOpen() const;
  std::string lastError() const;

  // Writes: each false on failure (also when the job is unknown, for the
  // updates).
  bool Add(const JobRecord& job);
  // Many jobs in one transaction (an import, a benchmark's history).
  bool Add(const std::vector<JobRecord>& jobs);
  // A job is taken by a print control: state printing, its start time, its
  // waiting seconds from its reception.
  bool MarkStarted(int64_t number, int64_t startedMs);
  // The print control ended: state failed when exitStatus is not 0 or a
  // failure was recorded, else printed.  keepFiles: a failed job's spooled
  // files stay for a retry (files_kept).  Gives the state written.
  bool MarkEnded(int64_t number, int64_t endedMs, int32_t exitStatus, const std::string& failure,
                 bool keepFiles, JobState* state = nullptr);
  // Any other change of state (held, queued, cancelled, failed); ended
  // states also set the end time.
  bool SetState(int64_t number, JobState state, int64_t atMs);
  bool SetQueueOrder(int64_t number, int64_t queueOrder);
  bool SetFilesKept(int64_t number, bool kept);
  bool SetRetriedAs(int64_t number, int64_t retriedAs);
  // What the print control alone knows.
  bool RecordPrintControl(int64_t number, const std::string& title,
                          const std::string& settingsGroup, int32_t documents,
                          double transformSeconds, double renderSeconds, double spoolSeconds);
  // The first failure text of the job stays its failure; every one is an
  // event.
  bool RecordFailure(int64_t number, int64_t atMs, const std::string& text);
  bool AddEvent(int64_t number, int64_t atMs, const std::string& level, const std::string& text);

  // Reads.  The Visit forms hand each job to the visitor as it is read
  // (a listing of many jobs never holds them all); the visitor must not
  // call back into this object.
  using Visitor = std::function<void(const JobRecord&)>;
  bool VisitCurrent(const Visitor& visit);
  bool VisitHistory(const HistoryFilter& filter, const Visitor& visit);
  // A listing's jobs in its order.
  bool VisitListing(const ListingOptions& options, const Visitor& visit);
  // The jobs printing now (oldest start first), then the waiting ones
  // (queued and held) in print order.
  bool ListCurrent(std::vector<JobRecord>* jobs);
  // Ended jobs by the filter, newest first.
  bool ListHistory(const HistoryFilter& filter, std::vector<JobRecord>* jobs);
  // One job and its events, oldest first; false when there is none.
  bool Find(int64_t number, JobRecord* job, std::vector<JobEvent>* events = nullptr);
  // The current job whose command line this is (the newest of them).
  bool FindCurrentByCommandLine(const std::string& commandLine, JobRecord* job);
  // The highest number the history holds (0: none).
  int64_t MaxNumber();

  // Retention: ended jobs older than days, then all but the newest maxJobs
  // ended jobs, go with their events.  A job whose files are kept stays
  // until they are removed.  *removed: how many jobs went.
  bool Prune(int64_t nowMs, int32_t days, int64_t maxJobs, int64_t* removed = nullptr);
  // Failed jobs whose files are kept and that ended before the time.
  bool ListKeptBefore(int64_t endedBeforeMs, std::vector<JobRecord>* jobs);

 private:
  bool Exec(const char* sql);
  bool Fail(const char* what);
  bool ReadJobs(const std::string& sql, const std::vector<int64_t>& arguments,
                std::vector<JobRecord>* jobs);
  bool VisitJobs(const std::string& sql, const std::vector<int64_t>& arguments,
                 const Visitor& visit);

  mutable std::mutex mutex_;
  sqlite3* db_ = nullptr;        // guarded by mutex_
  std::string error_;            // guarded by mutex_
};

}  // namespace kavelo::jobs

#endif  // KAVELO_JOBS_JOB_HISTORY_H_
