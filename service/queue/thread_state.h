// The service's thread layer, part two: a thread's state with a start/stop
// handshake.
#ifndef KAVELO_SERVICE_THREAD_STATE_H_
#define KAVELO_SERVICE_THREAD_STATE_H_

#include <cstdint>
#include <mutex>

#include "service/queue/wake_signal.h"

namespace kavelo::service {

// Thread safe.  The state lock is held while the state's own signal is
// given (state lock, then signal lock): the only nesting of these locks.
class ThreadState {
 public:
  enum : int32_t {
    kRunning = 0,   // the thread body has begun
    kStopped = 1,   // no thread (the initial state)
    kStarting = 2,  // a thread is being created
    kStopping = 3,  // Stop waits for the thread to end
  };

  ThreadState() = default;
  ThreadState(const ThreadState&) = delete;
  ThreadState& operator=(const ThreadState&) = delete;

  // Changes the state and signals the change; the same state again does
  // nothing.
  void SetState(int32_t state);

  // Returns once the state equals state.  timeoutMs as in WakeSignal::Wait.
  void WaitForState(int32_t state, int32_t timeoutMs = WakeSignal::kInfinite);

  int32_t state() const;

 private:
  mutable std::mutex mutex_;
  int32_t state_ = kStopped;  // guarded by mutex_
  WakeSignal changed_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_THREAD_STATE_H_
