#include "jobs/job_history.h"

#include <sqlite3.h>

#include <utility>
#include <variant>

#include "platform/registry.h"
#include "platform/shared_file.h"

namespace kavelo::jobs {

namespace {

constexpr const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS jobs("
    " number INTEGER PRIMARY KEY, state TEXT NOT NULL,"
    " received_ms INTEGER NOT NULL DEFAULT 0, started_ms INTEGER NOT NULL DEFAULT 0,"
    " ended_ms INTEGER NOT NULL DEFAULT 0,"
    " client_address TEXT NOT NULL DEFAULT '', client_port INTEGER NOT NULL DEFAULT 0,"
    " title TEXT NOT NULL DEFAULT '', printer TEXT NOT NULL DEFAULT '',"
    " copies INTEGER NOT NULL DEFAULT 1, from_page INTEGER NOT NULL DEFAULT 0,"
    " to_page INTEGER NOT NULL DEFAULT 0, orientation INTEGER NOT NULL DEFAULT 0,"
    " xml_bytes INTEGER NOT NULL DEFAULT 0, xsl_bytes INTEGER NOT NULL DEFAULT 0,"
    " documents INTEGER NOT NULL DEFAULT 0,"
    " wait_seconds REAL NOT NULL DEFAULT 0, transform_seconds REAL NOT NULL DEFAULT 0,"
    " render_seconds REAL NOT NULL DEFAULT 0, spool_seconds REAL NOT NULL DEFAULT 0,"
    " exit_status INTEGER NOT NULL DEFAULT -1, failure TEXT NOT NULL DEFAULT '',"
    " settings_group TEXT NOT NULL DEFAULT '', retry_of INTEGER NOT NULL DEFAULT 0,"
    " retried_as INTEGER NOT NULL DEFAULT 0, files_kept INTEGER NOT NULL DEFAULT 0,"
    " command_line TEXT NOT NULL DEFAULT '', queue_order INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS jobs_ended ON jobs(ended_ms, number) WHERE ended_ms > 0;"
    "CREATE INDEX IF NOT EXISTS jobs_current ON jobs(queue_order) WHERE ended_ms = 0;"
    "CREATE INDEX IF NOT EXISTS jobs_current_line ON jobs(command_line) WHERE ended_ms = 0;"
    "CREATE TABLE IF NOT EXISTS job_events("
    " id INTEGER PRIMARY KEY, number INTEGER NOT NULL, time_ms INTEGER NOT NULL,"
    " level TEXT NOT NULL, text TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS job_events_number ON job_events(number);";

constexpr const char kColumns[] =
    "number, state, received_ms, started_ms, ended_ms, client_address, client_port, title,"
    " printer, copies, from_page, to_page, orientation, xml_bytes, xsl_bytes, documents,"
    " wait_seconds, transform_seconds, render_seconds, spool_seconds, exit_status, failure,"
    " settings_group, retry_of, retried_as, files_kept, command_line, queue_order";

using Value = std::variant<int64_t, double, std::string>;

// One prepared statement, finalized on every path.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  bool Bind(const std::vector<Value>& values) {
    int at = 1;
    for (const Value& value : values) {
      int rc;
      if (const int64_t* n = std::get_if<int64_t>(&value)) {
        rc = sqlite3_bind_int64(stmt_, at, *n);
      } else if (const double* d = std::get_if<double>(&value)) {
        rc = sqlite3_bind_double(stmt_, at, *d);
      } else {
        const std::string& text = std::get<std::string>(value);
        rc = sqlite3_bind_text(stmt_, at, text.data(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
      }
      if (rc != SQLITE_OK) return false;
      ++at;
    }
    return true;
  }
  int Step() { return sqlite3_step(stmt_); }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  double Real(int column) const { return sqlite3_column_double(stmt_, column); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

JobRecord ReadRow(const Statement& row) {
  JobRecord job;
  job.number = row.Int(0);
  ParseJobState(row.Text(1), &job.state);
  job.receivedMs = row.Int(2);
  job.startedMs = row.Int(3);
  job.endedMs = row.Int(4);
  job.clientAddress = row.Text(5);
  job.clientPort = static_cast<int32_t>(row.Int(6));
  job.title = row.Text(7);
  job.printer = row.Text(8);
  job.copies = static_cast<int32_t>(row.Int(9));
  job.fromPage = static_cast<int32_t>(row.Int(10));
  job.toPage = static_cast<int32_t>(row.Int(11));
  job.orientation = static_cast<int32_t>(row.Int(12));
  job.xmlBytes = row.Int(13);
  job.xslBytes = row.Int(14);
  job.documents = static_cast<int32_t>(row.Int(15));
  job.waitSeconds = row.Real(16);
  job.transformSeconds = row.Real(17);
  job.renderSeconds = row.Real(18);
  job.spoolSeconds = row.Real(19);
  job.exitStatus = static_cast<int32_t>(row.Int(20));
  job.failure = row.Text(21);
  job.settingsGroup = row.Text(22);
  job.retryOf = row.Int(23);
  job.retriedAs = row.Int(24);
  job.filesKept = row.Int(25) != 0;
  job.commandLine = row.Text(26);
  job.queueOrder = row.Int(27);
  return job;
}

}  // namespace

std::string DefaultHistoryPath() { return platform::RegistryDirectory() + "/jobs.db"; }

std::string DefaultControlSocketPath() { return platform::RegistryDirectory() + "/jobs.sock"; }

JobHistory::~JobHistory() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

bool JobHistory::Fail(const char* what) {
  error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "not open");
  return false;
}

bool JobHistory::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error_ = message ? message : "unknown error";
  sqlite3_free(message);
  return false;
}

bool JobHistory::Open(const std::string& path, Mode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ != nullptr) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  int flags = SQLITE_OPEN_FULLMUTEX;
  if (mode == Mode::kReadWrite) {
    // Group-writable like the hives, so the print controls and the
    // service's group share it whoever makes it first.
    if (!platform::CreateSharedFile(path.c_str())) {
      error_ = "cannot create " + path;
      return false;
    }
    flags |= SQLITE_OPEN_READWRITE;
  } else {
    flags |= SQLITE_OPEN_READONLY;
  }
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    Fail(("cannot open " + path).c_str());
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (mode == Mode::kReadWrite) {
    // The persisted queue is what must survive a crash; the history trades
    // the last moments before a power loss for an intake without an extra
    // disk flush per job.
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") || !Exec(kSchema)) {
      error_ = "cannot prepare " + path + ": " + error_;
      sqlite3_close_v2(db_);
      db_ = nullptr;
      return false;
    }
  }
  return true;
}

bool JobHistory::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return db_ != nullptr;
}

std::string JobHistory::lastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

namespace {

// Runs one writing statement; false unless it changed at least one row
// (when mustChange).
bool Run(sqlite3* db, const std::string& sql, const std::vector<Value>& values, bool mustChange,
         std::string* error) {
  if (db == nullptr) {
    *error = "the history is not open";
    return false;
  }
  Statement statement(db, sql);
  if (!statement.ok() || !statement.Bind(values) || statement.Step() != SQLITE_DONE) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  if (mustChange && sqlite3_changes(db) == 0) {
    *error = "no such job";
    return false;
  }
  return true;
}

}  // namespace

bool JobHistory::Add(const JobRecord& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Run(db_,
             std::string("INSERT OR REPLACE INTO jobs(") + kColumns +
                 ") VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
             {job.number, std::string(JobStateName(job.state)), job.receivedMs, job.startedMs,
              job.endedMs, job.clientAddress, int64_t{job.clientPort}, job.title, job.printer,
              int64_t{job.copies}, int64_t{job.fromPage}, int64_t{job.toPage},
              int64_t{job.orientation}, job.xmlBytes, job.xslBytes, int64_t{job.documents},
              job.waitSeconds, job.transformSeconds, job.renderSeconds, job.spoolSeconds,
              int64_t{job.exitStatus}, job.failure, job.settingsGroup, job.retryOf, job.retriedAs,
              int64_t{job.filesKept ? 1 : 0}, job.commandLine, job.queueOrder},
             false, &error_);
}

bool JobHistory::Add(const std::vector<JobRecord>& jobs) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_ == nullptr || !Exec("BEGIN IMMEDIATE")) return false;
  }
  for (const JobRecord& job : jobs) {
    if (Add(job)) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    std::string why = error_;
    Exec("ROLLBACK");
    error_ = why;
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return Exec("COMMIT");
}

bool JobHistory::MarkStarted(int64_t number, int64_t startedMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Run(db_,
             "UPDATE jobs SET state='printing', started_ms=?1,"
             " wait_seconds=MAX(0, ?1 - received_ms) / 1000.0 WHERE number=?2",
             {startedMs, number}, true, &error_);
}

bool JobHistory::MarkEnded(int64_t number, int64_t endedMs, int32_t exitStatus,
                           const std::string& failure, bool keepFiles, JobState* state) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The print control may have recorded its own failure text; the
  // service's (an abnormal end) comes after it.
  bool ok = Run(db_,
                "UPDATE jobs SET ended_ms=?1, exit_status=?2,"
                " failure=CASE WHEN failure='' THEN ?3 ELSE failure END,"
                " state=CASE WHEN ?2<>0 OR failure<>'' OR ?3<>'' THEN 'failed' ELSE 'printed' END"
                " WHERE number=?4",
                {endedMs, int64_t{exitStatus}, failure, number}, true, &error_);
  if (ok) {
    ok = Run(db_, "UPDATE jobs SET files_kept=(state='failed' AND ?1) WHERE number=?2",
             {int64_t{keepFiles ? 1 : 0}, number}, true, &error_);
  }
  if (ok && state != nullptr) {
    Statement read(db_, "SELECT state FROM jobs WHERE number=?");
    if (read.ok() && read.Bind({number}) && read.Step() == SQLITE_ROW) {
      ParseJobState(read.Text(0), state);
    }
  }
  return ok;
}

bool JobHistory::SetState(int64_t number, JobState state, int64_t atMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Run(db_, "UPDATE jobs SET state=?1, ended_ms=?2 WHERE number=?3",
             {std::string(JobStateName(state)), HasEnded(state) ? atMs : int64_t{0}, number}, true,
             &error_);
}

bool JobHistory::SetQueueOrder(int64_t number, int64_t queueOrder) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Run(db_, "UPDATE jobs SET queue_order=? WHERE number=?", {queueOrder, number}, true,
             &error_);
}

bool JobHistory::SetFilesKept(int64_t number, bool kept) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Run(db_, "UPDATE jobs SET files_kept=? WHERE number=?",
             {int64_t{kept ? 1 : 0}, number}, true, &error_);
}

bool JobHistory::SetRetriedAs(int64_t number, int64_t retriedAs) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Run(db_, "UPDATE jobs SET retried_as=? WHERE number=?", {retriedAs, number}, true,
             &error_);
}

bool JobHistory::RecordPrintControl(int64_t number, const std::string& title,
                                    const std::string& settingsGroup, int32_t documents,
                                    double transformSeconds, double renderSeconds,
                                    double spoolSeconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Run(db_,
             "UPDATE jobs SET title=?, settings_group=?, documents=?, transform_seconds=?,"
             " render_seconds=?, spool_seconds=? WHERE number=?",
             {title, settingsGroup, int64_t{documents}, transformSeconds, renderSeconds,
              spoolSeconds, number},
             true, &error_);
}

bool JobHistory::RecordFailure(int64_t number, int64_t atMs, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Run(db_, "UPDATE jobs SET failure=?1 WHERE number=?2 AND failure=''", {text, number}, false,
           &error_)) {
    return false;
  }
  return Run(db_, "INSERT INTO job_events(number, time_ms, level, text) VALUES(?,?,'error',?)",
             {number, atMs, text}, false, &error_);
}

bool JobHistory::AddEvent(int64_t number, int64_t atMs, const std::string& level,
                          const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Run(db_, "INSERT INTO job_events(number, time_ms, level, text) VALUES(?,?,?,?)",
             {number, atMs, level, text}, false, &error_);
}

bool JobHistory::ReadJobs(const std::string& sql, const std::vector<int64_t>& arguments,
                          std::vector<JobRecord>* jobs) {
  return VisitJobs(sql, arguments, [jobs](const JobRecord& job) { jobs->push_back(job); });
}

bool JobHistory::VisitJobs(const std::string& sql, const std::vector<int64_t>& arguments,
                           const Visitor& visit) {
  if (db_ == nullptr) {
    error_ = "the history is not open";
    return false;
  }
  Statement statement(db_, std::string("SELECT ") + kColumns + " FROM jobs " + sql);
  std::vector<Value> values(arguments.begin(), arguments.end());
  if (!statement.ok() || !statement.Bind(values)) return Fail("cannot read the history");
  int rc;
  while ((rc = statement.Step()) == SQLITE_ROW) visit(ReadRow(statement));
  if (rc != SQLITE_DONE) return Fail("cannot read the history");
  return true;
}

bool JobHistory::VisitCurrent(const Visitor& visit) {
  std::lock_guard<std::mutex> lock(mutex_);
  return VisitJobs("WHERE ended_ms=0 AND state='printing' ORDER BY started_ms, number", {},
                   visit) &&
         VisitJobs("WHERE ended_ms=0 AND state<>'printing' ORDER BY queue_order, number", {},
                   visit);
}

bool JobHistory::VisitHistory(const HistoryFilter& filter, const Visitor& visit) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The bound first: SQLite takes the first lower bound as the range of the
  // ended_ms index, and "ended_ms > 0" first made it walk every ended job.
  std::string where = "WHERE ended_ms >= ? AND ended_ms > 0";
  if (filter.failedOnly) where += " AND state='failed'";
  return VisitJobs(where + " ORDER BY ended_ms DESC, number DESC", {filter.sinceMs}, visit);
}

bool JobHistory::VisitListing(const ListingOptions& options, const Visitor& visit) {
  return VisitCurrent(visit) && (!options.all || VisitHistory(options.filter, visit));
}

bool JobHistory::ListCurrent(std::vector<JobRecord>* jobs) {
  return VisitCurrent([jobs](const JobRecord& job) { jobs->push_back(job); });
}

bool JobHistory::ListHistory(const HistoryFilter& filter, std::vector<JobRecord>* jobs) {
  return VisitHistory(filter, [jobs](const JobRecord& job) { jobs->push_back(job); });
}

bool JobHistory::Find(int64_t number, JobRecord* job, std::vector<JobEvent>* events) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<JobRecord> found;
  if (!ReadJobs("WHERE number=?", {number}, &found)) return false;
  if (found.empty()) {
    error_ = "no such job";
    return false;
  }
  *job = found.front();
  if (events == nullptr) return true;
  Statement statement(db_,
                      "SELECT number, time_ms, level, text FROM job_events WHERE number=?"
                      " ORDER BY time_ms, id");
  if (!statement.ok() || !statement.Bind({number})) return Fail("cannot read the events");
  int rc;
  while ((rc = statement.Step()) == SQLITE_ROW) {
    events->push_back({statement.Int(0), statement.Int(1), statement.Text(2), statement.Text(3)});
  }
  if (rc != SQLITE_DONE) return Fail("cannot read the events");
  return true;
}

bool JobHistory::FindCurrentByCommandLine(const std::string& commandLine, JobRecord* job) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return false;
  Statement statement(db_, std::string("SELECT ") + kColumns +
                               " FROM jobs WHERE ended_ms=0 AND command_line=?"
                               " ORDER BY number DESC LIMIT 1");
  if (!statement.ok() || !statement.Bind({commandLine})) return Fail("cannot read the history");
  if (statement.Step() != SQLITE_ROW) return false;
  *job = ReadRow(statement);
  return true;
}

int64_t JobHistory::MaxNumber() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return 0;
  Statement statement(db_, "SELECT MAX(number) FROM jobs");
  if (!statement.ok() || statement.Step() != SQLITE_ROW) return 0;
  return statement.Int(0);
}

bool JobHistory::Prune(int64_t nowMs, int32_t days, int64_t maxJobs, int64_t* removed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) {
    error_ = "the history is not open";
    return false;
  }
  int64_t total = 0;
  if (!Exec("BEGIN IMMEDIATE")) return false;
  bool ok = Run(db_, "DELETE FROM jobs WHERE ended_ms > 0 AND ended_ms < ? AND files_kept=0",
                {nowMs - int64_t{days} * 86400000}, false, &error_);
  total += ok ? sqlite3_changes(db_) : 0;
  ok = ok && Run(db_,
                 "DELETE FROM jobs WHERE ended_ms > 0 AND files_kept=0 AND number NOT IN"
                 " (SELECT number FROM jobs WHERE ended_ms > 0"
                 "  ORDER BY ended_ms DESC, number DESC LIMIT ?)",
                 {maxJobs}, false, &error_);
  total += ok ? sqlite3_changes(db_) : 0;
  ok = ok && (total == 0 ||
              Run(db_, "DELETE FROM job_events WHERE number NOT IN (SELECT number FROM jobs)", {},
                  false, &error_));
  if (!ok) {
    std::string why = error_;
    Exec("ROLLBACK");
    error_ = why;
    return false;
  }
  if (!Exec("COMMIT")) return false;
  if (removed != nullptr) *removed = total;
  return true;
}

bool JobHistory::ListKeptBefore(int64_t endedBeforeMs, std::vector<JobRecord>* jobs) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ReadJobs("WHERE files_kept=1 AND ended_ms > 0 AND ended_ms < ?", {endedBeforeMs}, jobs);
}

}  // namespace kavelo::jobs
