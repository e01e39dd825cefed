// A worker thread with a queue of job command lines and a loop that hands
// each one, oldest first, to a processing step.
#ifndef KAVELO_SERVICE_QUEUE_THREAD_H_
#define KAVELO_SERVICE_QUEUE_THREAD_H_

#include <cstdint>
#include <exception>
#include <string>

#include "service/host/event_log_channel.h"
#include "service/queue/job_list.h"
#include "service/queue/worker_thread.h"

namespace kavelo::service {

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
  // line and enqueues it.  Returns what Enqueue returns: true once the job
  // is queued (and, in a PrintThread, durably persisted).  Thread safe.
  virtual bool AddJob(const char* printerApplication, const char* xmlPath, const char* xslPath,
                      const char* printerName, int32_t orientation, int32_t copies,
                      int32_t fromPage, int32_t toPage);

  // Appends the job to the JobList and gives the thread one wake-up count.
  // Raises NullPointerException / IllegalArgumentException for a null /
  // empty text.  Returns true.  Thread safe.
  virtual bool Enqueue(const char* jobCommandLine);

  // Set by BindLog; empty before.  Read-only once the thread runs.
  const std::string& serviceName() const { return serviceName_; }
  const JobList& jobs() const { return jobs_; }

 protected:
  // The job loop: takes the first job, processes it, then removes it; waits
  // for a signal when the list is empty.  An exception in a pass goes to
  // ReportException and the loop goes on.
  void Run() override;

  // Called from the loop for an exception caught in a pass; does nothing.
  virtual void ReportException(const std::exception& e);
  // Processes one job; does nothing here.
  virtual void ProcessJob(const std::string& jobCommandLine);

  EventLogChannel& channel() { return channel_; }

 private:
  std::string serviceName_;
  EventLogChannel channel_;
  JobList jobs_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_QUEUE_THREAD_H_
