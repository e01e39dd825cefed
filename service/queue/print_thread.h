// The print thread: takes the queued jobs one at a time, oldest first, and
// prints each by starting the print control with the job's command line.
// Every queued job is also persisted in the registry ("PrintQueue" below the
// service key) until its print control has been started, so accepted jobs
// survive a stop or a crash of the service.
#ifndef KAVELO_SERVICE_PRINT_THREAD_H_
#define KAVELO_SERVICE_PRINT_THREAD_H_

#include <string>
#include <vector>

#include "platform/print_limits.h"
#include "platform/process.h"
#include "service/queue/queue_thread.h"

namespace kavelo::service {

class PrintThread : public QueueThread {
 public:
  // Built with wake-on-stop, so that Stop wakes a thread waiting for work.
  PrintThread();
  ~PrintThread() override;

  // Persists the job first and only then appends it and wakes the thread,
  // so the print thread can never remove the persisted value before it is
  // written.  Returns true when the job is queued and its persisted value
  // is on disk (or when the thread has no service name, hence no persisted
  // queue).  Failures are reported as message 5 and give false; the job is
  // then not queued.  Never raises.  Thread safe.
  bool Enqueue(const char* jobCommandLine) override;

  // Reads the print limits (PrintControlTimeout, PrintControlMemoryLimit),
  // starts the thread (priority 0) and puts the persisted jobs back into
  // the JobList, reporting message 18 with their number when there are any.
  // Persisted values too long to be listed (left by an older version) are
  // deleted first, each reported as message 5.  Call once, after BindLog.
  void StartPrinting();

  // How long a stop lets a running print control go on before it ends it.
  static constexpr int kStopGraceMs = 10000;
  // For tests: a shorter grace.
  void set_stop_grace_ms(int ms) { stopGraceMs_ = ms; }

 protected:
  // Starts the print control from the job command line (never through a
  // shell) inside the address-space limit, removes the persisted value
  // right after the start attempt and waits for the print control to end;
  // message 6 when it cannot be started.  The wait has two limits: the
  // PrintControlTimeout (message 31) and, once a stop has begun, the stop
  // grace; either ends the print control's process group.  A print control
  // that did not end normally (a limit, or the kernel, killed it) could not
  // remove its job's files: they are removed here (message 32), and such a
  // job is not retried.  A job ended by a stop is persisted again with its
  // spooled files (message 34; message 33 when that fails).
  void ProcessJob(const std::string& jobCommandLine) override;
  // Reports message 5 with the exception's message or "Unknown".
  void ReportException(const std::exception& e) override;

  // The persisted queue of the service named serviceName().  Registry
  // status 0 on success.  Virtual so that tests can inject store faults.
  virtual long PersistJob(const std::string& jobCommandLine);
  // False when the job may still be in the persisted queue.
  virtual bool RemovePersistedJob(const std::string& jobCommandLine);
  virtual void ListPersistedJobs(std::vector<std::string>* names, std::vector<std::string>* texts);
  virtual void RemoveUnlistableJobs(std::vector<std::string>* removed);

 private:
  void WaitForPrintControl(platform::Process* control, const std::string& jobCommandLine);

  platform::PrintLimits limits_;
  int stopGraceMs_ = kStopGraceMs;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_PRINT_THREAD_H_
