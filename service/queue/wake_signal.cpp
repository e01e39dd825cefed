#include "service/queue/wake_signal.h"

#include <chrono>
#include <thread>

namespace kavelo::service {

void WakeSignal::Signal() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++count_;
  if (waiting_) event_.notify_one();
}

void WakeSignal::Wait(int32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (count_ == 0) {
    waiting_ = true;
    if (timeoutMs < 0) {
      event_.wait(lock);
    } else {
      event_.wait_for(lock, std::chrono::milliseconds(timeoutMs));
    }
    waiting_ = false;
  }
  --count_;
}

bool WakeSignal::WaitFor(int32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (count_ == 0) {
    waiting_ = true;
    event_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return count_ != 0; });
    waiting_ = false;
  }
  if (count_ == 0) return false;
  --count_;
  return true;
}

int32_t WakeSignal::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

}  // namespace kavelo::service
