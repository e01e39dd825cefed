// A worker thread with a queue of jobs and a loop that hands each one, in
// print order, to a processing step.
#ifndef KAVELO_SERVICE_QUEUE_THREAD_H_
#define KAVELO_SERVICE_QUEUE_THREAD_H_

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

#include "service/host/event_log_channel.h"
#include "service/queue/job_list.h"
#include "service/queue/worker_thread.h"

namespace kavelo::service {

// What the intake knows of a job besides its command line.
struct JobOrigin {
  std::string clientAddress;
  int32_t clientPort = 0;
  int64_t xmlBytes = 0;
  int64_t xslBytes = 0;
  int64_t retryOf = 0;  // a retry: the failed job it prints again
};

class QueueThread : public WorkerThread {
 public:
  explicit QueueThread(bool wakeOnStop);
  ~QueueThread() override;

  // Names the thread's service and registers its event-log channel under
  // that name.  Call once, before Start.  Raises NullPointerException /
  // IllegalArgumentException for a null / empty name.
  void BindLog(const char* serviceName);

  // Checks the four texts (null: NullPointerException, empty:
  // IllegalArgumentException, both to the caller), builds the job command
  // line and submits it with its origin.  Returns what Submit returns: true
  // once the job is queued (and, in a PrintThread, durably persisted).
  // Thread safe.
  virtual bool AddJob(const char* printerApplication, const char* xmlPath, const char* xslPath,
                      const char* printerName, int32_t orientation, int32_t copies,
                      int32_t fromPage, int32_t toPage, const JobOrigin& origin = JobOrigin());

  // Submits the job without an origin.  Raises NullPointerException /
  // IllegalArgumentException for a null / empty text.  Thread safe.
  virtual bool Enqueue(const char* jobCommandLine);

  // Set by BindLog; empty before.  Read-only once the thread runs.
  const std::string& serviceName() const { return serviceName_; }
  const JobList& jobs() const { return jobs_; }

 protected:
  // Gives the job the next number, appends it to the JobList and gives the
  // thread one wake-up count.  Returns true.
  virtual bool Submit(const std::string& jobCommandLine, const JobOrigin& origin);

  // The job loop: takes the first waiting job that is not held, processes
  // it, then lets it go; waits for a signal when there is none.  An
  // exception in a pass goes to ReportException and the loop goes on.
  void Run() override;

  // Called from the loop for an exception caught in a pass; does nothing.
  virtual void ReportException(const std::exception& e);
  // Processes one job; does nothing here.
  virtual void ProcessJob(const QueuedJob& job);

  EventLogChannel& channel() { return channel_; }
  JobList& mutableJobs() { return jobs_; }

 private:
  std::string serviceName_;
  EventLogChannel channel_;
  JobList jobs_;
  std::atomic<int64_t> nextNumber_{1};
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_QUEUE_THREAD_H_
