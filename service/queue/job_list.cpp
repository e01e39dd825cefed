#include "service/queue/job_list.h"

namespace kavelo::service {

void JobList::Append(const std::string& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  jobs_.push_back(job);
}

bool JobList::First(std::string* job) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (jobs_.empty()) return false;
  *job = jobs_.front();
  return true;
}

bool JobList::RemoveFirst() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (jobs_.empty()) return false;
  jobs_.pop_front();
  return true;
}

size_t JobList::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_.size();
}

std::deque<std::string> JobList::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_;
}

}  // namespace kavelo::service
