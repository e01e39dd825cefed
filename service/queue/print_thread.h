// The print thread: takes the queued jobs oldest first and prints each by
// starting the print control with the job's command line.  Up to
// PrintThreads print controls run at once (one by default), never two for
// one printer, so the jobs of each printer print one after the other in
// their order and a long job holds back only its own printer's queue.
// Every queued job is also persisted in the registry ("PrintQueue" below the
// service key) until its print control has been started, so accepted jobs
// survive a stop or a crash of the service.
#ifndef KAVELO_SERVICE_PRINT_THREAD_H_
#define KAVELO_SERVICE_PRINT_THREAD_H_

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/print_limits.h"
#include "platform/process.h"
#include "platform/standby_process.h"
#include "service/queue/job_desk.h"
#include "service/queue/queue_thread.h"

namespace kavelo::service {

class PrintThread : public QueueThread {
 public:
  // Built with wake-on-stop, so that Stop wakes a thread waiting for work.
  PrintThread();
  ~PrintThread() override;

  // Submits the job (see Submit).  Failures are reported as message 5 and
  // give false.  Never raises.  Thread safe.
  bool Enqueue(const char* jobCommandLine) override;

  // The printer a job without a printer name prints on (the service's
  // printer, the default printer's name when it uses that).  Call before
  // StartPrinting.
  void set_default_printer(const std::string& name) { defaultPrinter_ = name; }

  // Reads the print limits (PrintControlTimeout, PrintControlMemoryLimit,
  // PrintThreads)
  // and the history settings, opens the job history (retention and the kept
  // files of failed jobs are looked after at once), starts the thread
  // (priority 0) and puts the persisted jobs back into the JobList under
  // the numbers the history knows them by (new numbers for the others), in
  // their print order, held ones held, reporting message 18 with their
  // number when there are any.  Jobs the history holds as current that are
  // no longer persisted end as failed.  Persisted values too long to be
  // listed (left by an older version) are deleted first, each reported as
  // message 5.  Call once, after BindLog.
  void StartPrinting();

  // The operators' actions (the control socket), thread safe; each one
  // event naming the job and the user.
  struct ActionResult {
    bool ok = false;
    std::string text;  // what the user is told
  };
  // A waiting (queued or held) job leaves the queue for good: persisted
  // value and spool files removed, state cancelled.  A printing one: its
  // print control's process group is ended, its files removed; waits until
  // its print thread has let it go (at most the stop grace and a little).
  ActionResult Cancel(int64_t number, const std::string& user);
  // A held job is skipped until released, keeps its place and stays held
  // over a restart (the history holds the state: without a history no job
  // can be held).
  ActionResult Hold(int64_t number, const std::string& user);
  ActionResult Release(int64_t number, const std::string& user);
  // A failed job whose spooled files are kept prints again under a new
  // number that names the old one.
  ActionResult Retry(int64_t number, const std::string& user);
  // Retention and the kept files; the control socket's loop calls it.
  void Upkeep() { desk_.Upkeep(false); }

  JobDesk& desk() { return desk_; }

  // How long a stop lets a running print control go on before it ends it.
  static constexpr int kStopGraceMs = 10000;
  // For tests: a shorter grace.
  void set_stop_grace_ms(int ms) { stopGraceMs_ = ms; }
  // The print controls that may run at once (PrintThreads).
  uint32_t printThreads() const { return limits_.printThreads; }

 protected:
  // Persists the job first and only then appends it and wakes the thread,
  // so the print thread can never remove the persisted value before it is
  // written; the job gets its number and its history row (a history that
  // cannot be written is one event, and the job still queues).  Returns
  // true when the job is queued and its persisted value is on disk (or
  // when the thread has no service name, hence no persisted queue).
  // Failures are reported as message 5 and give false; the job is then not
  // queued.  Never raises.  Thread safe.
  bool Submit(const std::string& jobCommandLine, const JobOrigin& origin) override;
  bool SubmitNumbered(const std::string& jobCommandLine, const JobOrigin& origin,
                      int64_t* number);

  // The dispatcher: starts the print controls of the jobs JobList hands out
  // (the first waiting one of a printer that prints nothing now) while
  // fewer than PrintThreads run, and waits on the running ones in short
  // slices.  After a stop it starts nothing and ends once every running
  // print control has ended (each within its grace).
  void Run() override;

  // Starts the print control from the job command line (never through a
  // shell) inside the address-space limit and removes the persisted value
  // right after the start attempt; message 6 when it cannot be started
  // (nullptr: the job has ended).  CheckPrintControl then waits for it at
  // most sliceMs and is true once the job has ended.  The wait has two
  // limits: the PrintControlTimeout (message 31) and, once a stop has
  // begun, the stop grace; either ends the print control's process group.
  // A print control that did not end normally (a limit, or the kernel,
  // killed it) could not remove its job's files: they are removed here
  // (message 32), or, when KeepFailedHours is not 0, all but its spooled
  // files (message 40), so it can be retried by hand; it is never retried
  // by itself.  A job ended by a stop is persisted again with its spooled
  // files (message 34; message 33 when that fails).  The job's number
  // reaches the print control as KAVELO_JOB_NUMBER, and KAVELO_KEEP_FAILED=1
  // tells it to keep a failed job's spooled files (KeepFailedHours not 0);
  // the history gets the start and the end.  A cancel ends the print
  // control like a limit does.
  struct Running;
  std::unique_ptr<Running> StartJob(const QueuedJob& job);
  bool CheckPrintControl(Running* print, int sliceMs);
  // The print control installed beside the service (its folder's
  // Ostrevo) is started one job ahead: it waits in standby while the job
  // before it prints, and takes its job's arguments and environment when
  // the job starts, inside the same limits (standby_process.h).
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
  // The job's printer key: its printer name (the default printer's when it
  // names none) in lower case, since printer names ignore letter case.
  std::string PrinterKey(const std::string& jobCommandLine) const;
  QueuedJob MakeJob(int64_t number, const std::string& jobCommandLine, bool held) const;
  void Ended(const QueuedJob& job, int32_t exitStatus, const std::string& failure, bool keepFiles);
  void RequeueAfterStop(const QueuedJob& job, const std::string& held);
  void RecoverPersistedJobs(const std::vector<std::string>& texts);
  // For a job that was printing when the service ended: when its print
  // control ended too (its work folder is left unlocked), cancels the
  // spooler jobs it left held and removes its files, adds so to *failure,
  // and returns whether the spooled files were kept for a retry.
  bool EndAbandonedJob(const std::string& jobCommandLine, std::string* failure);
  void Action(int64_t number, const std::string& text);
  ActionResult NotWaiting(int64_t number, const char* action);
  bool keepFailed() const { return desk_.settings().keepFailedHours != 0; }

  JobDesk desk_;
  platform::PrintLimits limits_;
  // The print control of the next job, started when the one before it
  // started (print thread only), and the path of the one that may be.
  platform::StandbyProcess standby_;
  std::string ownPrintControl_;
  int stopGraceMs_ = kStopGraceMs;
  std::string defaultPrinter_;
};

struct PrintThread::Running {
  using Clock = std::chrono::steady_clock;
  QueuedJob job;
  platform::Process control;
  Clock::time_point guard;                              // PrintControlTimeout
  Clock::time_point stopAt = Clock::time_point::max();  // the stop grace, once a stop begun
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_PRINT_THREAD_H_
