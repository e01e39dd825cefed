// The in-memory print queue: the waiting jobs in print order, and the set of
// jobs a print control prints now (at most one per printer).
#ifndef KAVELO_SERVICE_JOB_LIST_H_
#define KAVELO_SERVICE_JOB_LIST_H_

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kavelo::service {

struct QueuedJob {
  int64_t number = 0;       // the job number (unique over the service's life)
  std::string commandLine;  // the job command line, as persisted
  bool held = false;        // skipped by the print threads until released
  std::string printer;      // the key of its printer: no two of one key print at once
};

// Thread safe: each operation takes the list's lock.  Many threads append;
// print threads take jobs; the control socket holds, releases and cancels.
class JobList {
 public:
  void Append(const QueuedJob& job);
  // Moves the first waiting job that is not held and whose printer prints
  // no running job into the running set; false when there is none.  So the
  // jobs of one printer start one after the other, oldest first.
  bool TakeNext(QueuedJob* job);
  // The running job has ended: it leaves the running set.
  void Finished(int64_t number);

  // A waiting job leaves the list for good; false when it is not waiting.
  bool Remove(int64_t number, QueuedJob* removed);
  // Holds or releases a waiting job in its place; false when it is not
  // waiting.
  bool SetHeld(int64_t number, bool held);
  // Asks the print thread of a running job to end it; false when the job
  // does not run.
  bool RequestCancel(int64_t number, const std::string& user);
  // True (with who asked) when a cancel of the running job was asked for.
  bool CancelRequested(int64_t number, std::string* user) const;

  // The first waiting job's command line; false when none waits.
  bool First(std::string* commandLine) const;
  bool IsWaiting(int64_t number, QueuedJob* job = nullptr) const;
  bool IsRunning(int64_t number) const;
  // Waiting and running jobs together.
  size_t size() const;
  // The command lines of the running jobs, then of the waiting ones in
  // print order.
  std::deque<std::string> Snapshot() const;

 private:
  struct Running {
    QueuedJob job;
    bool cancel = false;
    std::string cancelUser;
  };
  mutable std::mutex mutex_;
  std::deque<QueuedJob> waiting_;          // guarded by mutex_
  std::map<int64_t, Running> running_;     // guarded by mutex_
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_JOB_LIST_H_
