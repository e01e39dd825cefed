#include "service/queue/job_list.h"

#include <algorithm>

namespace kavelo::service {

void JobList::Append(const QueuedJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_.push_back(job);
}

bool JobList::TakeNext(QueuedJob* job) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto next = std::find_if(waiting_.begin(), waiting_.end(), [this](const QueuedJob& waiting) {
    if (waiting.held) return false;
    return std::none_of(running_.begin(), running_.end(), [&](const auto& running) {
      return running.second.job.printer == waiting.printer;
    });
  });
  if (next == waiting_.end()) return false;
  *job = *next;
  running_[job->number] = Running{*next, false, ""};
  waiting_.erase(next);
  return true;
}

void JobList::Finished(int64_t number) {
  std::lock_guard<std::mutex> lock(mutex_);
  running_.erase(number);
}

bool JobList::Remove(int64_t number, QueuedJob* removed) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    if (it->number != number) continue;
    if (removed != nullptr) *removed = *it;
    waiting_.erase(it);
    return true;
  }
  return false;
}

bool JobList::SetHeld(int64_t number, bool held) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (QueuedJob& job : waiting_) {
    if (job.number != number) continue;
    job.held = held;
    return true;
  }
  return false;
}

bool JobList::RequestCancel(int64_t number, const std::string& user) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = running_.find(number);
  if (it == running_.end()) return false;
  it->second.cancel = true;
  it->second.cancelUser = user;
  return true;
}

bool JobList::CancelRequested(int64_t number, std::string* user) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = running_.find(number);
  if (it == running_.end() || !it->second.cancel) return false;
  if (user != nullptr) *user = it->second.cancelUser;
  return true;
}

bool JobList::First(std::string* commandLine) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waiting_.empty()) return false;
  *commandLine = waiting_.front().commandLine;
  return true;
}

bool JobList::IsWaiting(int64_t number, QueuedJob* job) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const QueuedJob& waiting : waiting_) {
    if (waiting.number != number) continue;
    if (job != nullptr) *job = waiting;
    return true;
  }
  return false;
}

bool JobList::IsRunning(int64_t number) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_.count(number) != 0;
}

size_t JobList::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_.size() + running_.size();
}

std::deque<std::string> JobList::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::deque<std::string> lines;
  for (const auto& [number, running] : running_) lines.push_back(running.job.commandLine);
  for (const QueuedJob& job : waiting_) lines.push_back(job.commandLine);
  return lines;
}

}  // namespace kavelo::service
