#include "service/host/control_queue.h"

namespace kavelo::service {

bool ControlQueue::Create() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = true;
  return true;
}

void ControlQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    codes_.clear();
  }
  posted_.notify_all();
}

bool ControlQueue::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

void ControlQueue::Post(uint32_t code) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    codes_.push_back(code);
  }
  posted_.notify_one();
}

bool ControlQueue::Take(uint32_t* code) {
  std::unique_lock<std::mutex> lock(mutex_);
  posted_.wait(lock, [this] { return !open_ || !codes_.empty(); });
  if (!open_) return false;
  *code = codes_.front();
  codes_.pop_front();
  return true;
}

}  // namespace kavelo::service
