// The in-memory print queue: job command lines, oldest first.
#ifndef KAVELO_SERVICE_JOB_LIST_H_
#define KAVELO_SERVICE_JOB_LIST_H_

#include <deque>
#include <mutex>
#include <string>

namespace kavelo::service {

// Thread safe: each operation takes the list's lock.  Many threads append;
// the print thread alone reads and removes the first entry.
class JobList {
 public:
  void Append(const std::string& job);
  // Copies the first entry into *job; false when the list is empty.  The
  // entry stays in the list.
  bool First(std::string* job) const;
  // Removes the first entry; false when the list is empty.
  bool RemoveFirst();
  size_t size() const;
  // A copy of every entry, oldest first.
  std::deque<std::string> Snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> jobs_;  // guarded by mutex_
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_JOB_LIST_H_
