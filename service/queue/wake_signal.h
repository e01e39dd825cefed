// The service's thread layer, part one: a counted wake-up signal.
#ifndef KAVELO_SERVICE_WAKE_SIGNAL_H_
#define KAVELO_SERVICE_WAKE_SIGNAL_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kavelo::service {

// Every Signal gives one count and every Wait takes one, so no wake-up is
// lost when several signals arrive before the waiter runs.
//
// Thread safe.
class WakeSignal {
 public:
  static constexpr int32_t kInfinite = -1;

  WakeSignal() = default;
  virtual ~WakeSignal() = default;
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // Gives one count and wakes a waiter.
  void Signal();

  // Blocks until a count is available and takes it.  timeoutMs bounds each
  // inner wait only: an expired wait goes round again, so Wait returns only
  // after a signal (the system always passes kInfinite).
  void Wait(int32_t timeoutMs = kInfinite);

  // Takes a count when one is there or comes within timeoutMs; false when
  // none came.
  bool WaitFor(int32_t timeoutMs);

  // Counts given and not yet taken.
  int32_t count() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable event_;
  int32_t count_ = 0;     // guarded by mutex_
  bool waiting_ = false;  // guarded by mutex_: a waiter is inside Wait
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_WAKE_SIGNAL_H_
