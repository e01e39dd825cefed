// The print thread's side of the job history: the job numbers, the history
// writes of the service (each failure one event, never a failed job), the
// history's settings and its regular upkeep (retention, the kept files of
// failed jobs).
#ifndef KAVELO_SERVICE_JOB_DESK_H_
#define KAVELO_SERVICE_JOB_DESK_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "jobs/job_history.h"
#include "jobs/job_settings.h"
#include "service/queue/queue_thread.h"

namespace kavelo::service {

class JobDesk {
 public:
  using Reporter = std::function<void(uint32_t messageId, const std::string& text)>;

  // Opens the history at historyPath (DefaultHistoryPath for a service),
  // reads the settings of serviceName and starts the numbers above the
  // history's highest.  An empty serviceName keeps everything in memory (no
  // history, numbers from 1).  Failures are reported, never raised.
  void Open(const std::string& serviceName, const std::string& historyPath, Reporter reporter);

  int64_t NewNumber();
  // The next place in the print order.
  int64_t NewQueueOrder() { return nextOrder_++; }

  // Writes of the print thread and the control socket; each failure is one
  // event and false.
  bool Received(int64_t number, const std::string& commandLine, const JobOrigin& origin,
                int64_t queueOrder, jobs::JobState state = jobs::JobState::kQueued);
  bool Write(const char* what, int64_t number, const std::function<bool(jobs::JobHistory&)>& write);
  // An event of the job in the history and, with a message id, in the event
  // log too.
  void Event(int64_t number, const std::string& level, const std::string& text);

  // Retention and the kept files of failed jobs whose time has passed.
  // Runs at most once per interval unless forced.
  void Upkeep(bool force);

  bool historyOpen() { return history_.IsOpen(); }
  jobs::JobHistory& history() { return history_; }
  const jobs::HistorySettings& settings() const { return settings_; }
  void set_settings(const jobs::HistorySettings& settings) { settings_ = settings; }

 private:
  void Report(uint32_t messageId, const std::string& text);

  Reporter reporter_;
  jobs::JobHistory history_;
  jobs::JobNumbers numbers_;
  jobs::HistorySettings settings_;
  std::atomic<int64_t> nextOrder_{1};
  std::atomic<int64_t> lastUpkeepMs_{0};
  std::atomic<bool> reserveReported_{false};
};

// The job's printer and page values from its command line, for a job the
// history does not know yet (one left in the persisted queue).
void FillFromCommandLine(const std::string& commandLine, jobs::JobRecord* job);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_JOB_DESK_H_
