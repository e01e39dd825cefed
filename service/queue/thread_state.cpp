#include "service/queue/thread_state.h"

#include <thread>

namespace kavelo::service {

void ThreadState::SetState(int32_t state) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == state) return;
  state_ = state;
  changed_.Signal();
}

void ThreadState::WaitForState(int32_t state, int32_t timeoutMs) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (state_ == state) return;
    }
    // Every change gives one count, so a change between the test above and
    // this wait is not lost.
    changed_.Wait(timeoutMs);
    std::this_thread::yield();
  }
}

int32_t ThreadState::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

}  // namespace kavelo::service
