// The job watcher: a second thread that follows, while orlendi runs, the
// spooler jobs orlendi makes for one HTML file, and ends when the last of
// them has left the spooler's active states.  The main thread sees it end
// and then gives orlendi only a short while longer.
//
// A thread is never killed: the watcher checks a stop flag between its
// spooler requests and sleeps, and owns (shares) everything it reads.
#ifndef KAVELO_PRINTCONTROL_JOB_WATCHER_H_
#define KAVELO_PRINTCONTROL_JOB_WATCHER_H_

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "printcontrol/printing/spool_job_list.h"

namespace kavelo::platform {
class Spooler;
}  // namespace kavelo::platform

namespace kavelo::printcontrol {

// What the watcher follows.  Process-wide (one watcher at a time): written
// with SetWatcherValues before the thread starts, never while it runs.
struct WatcherValues {
  int copies = 1;  // jobs orlendi makes for the file
  char htmlPath[kSpoolTextSize] = {};
  char printerName[kSpoolTextSize] = {};
};

// Sets the process-wide values (texts cut to 511 characters).  Must not be
// called while a watcher runs.
void SetWatcherValues(int copies, const char* htmlPath, const char* printerName);
const WatcherValues& GetWatcherValues();

// Pause between two looks at the queue.
constexpr int kWatcherPollMs = 50;
// How long StopWatcherThread lets a running watcher finish on its own.
constexpr int kWatcherGraceMs = 100;
// How long StopWatcherThread waits, after asking, for a watcher that is in
// the middle of a spooler request (each has its own time-out).
constexpr int kWatcherStopLimitMs = 10000;

// A stop request that wakes a sleeping watcher at once.  Thread safe.
class StopFlag {
 public:
  void Request();
  bool Requested() const;
  // Sleeps up to ms milliseconds; true (at once) when a stop is requested.
  bool WaitFor(int ms);

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool requested_ = false;  // guarded by mu_
};

// The watcher's loop, on the calling thread.  Returns when as many matching
// jobs as copies have been seen and the newest of them has left the queue or
// is neither spooling nor printing, or when stop is requested.  The spooler
// is used by this thread alone while it runs.
void JobWatcher(platform::Spooler& spooler, const WatcherValues& values, const char* ownUserName,
                StopFlag* stop);

using SpoolerFactory = std::function<std::unique_ptr<platform::Spooler>()>;

// The watcher thread of one orlendi run.
class WatcherThread {
 public:
  WatcherThread();
  ~WatcherThread();  // stops a running watcher (StopWatcherThread)
  WatcherThread(const WatcherThread&) = delete;
  WatcherThread& operator=(const WatcherThread&) = delete;

  // Starts the watcher on the current watcher values.  The factory is called
  // on the new thread and gives the spooler it uses; a watcher without a
  // spooler waits for its stop and never reports the jobs done.  0, or -1
  // when the thread cannot be created (or one already exists).
  int Start(SpoolerFactory factory, const char* ownUserName);
  // The same on the spooler of KAVELO_SPOOLER and the effective user.
  int Start();

  bool Exists() const { return thread_.joinable(); }
  // True when the watcher has ended, waiting at most timeoutMs for it.
  bool WaitEnded(int timeoutMs) const;

 private:
  friend void StopWatcherThread(WatcherThread* watcher, int graceMs);
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

// Nothing when no watcher exists.  Otherwise waits up to graceMs for it to
// end (0 once orlendi has ended: nothing then waits for what it sees); a watcher still running is then asked to stop, which it notices
// within one poll pause or its current spooler request, and is joined.
// Should a spooler request outlast kWatcherStopLimitMs the thread is left to
// end by itself (it owns what it uses), so the call never hangs.
void StopWatcherThread(WatcherThread* watcher, int graceMs = kWatcherGraceMs);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_JOB_WATCHER_H_
