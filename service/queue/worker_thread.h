// The service's thread layer, part three: the base of the service's own
// threads (the print thread and the listener).
#ifndef KAVELO_SERVICE_WORKER_THREAD_H_
#define KAVELO_SERVICE_WORKER_THREAD_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "service/queue/thread_state.h"
#include "service/queue/wake_signal.h"

namespace kavelo::service {

// A thread whose body (Run) polls the running flag between its waits.  The
// object's own WakeSignal is what a body waits on for work; Stop gives it
// one count when the thread was built with wakeOnStop, so that a body
// blocked in Wait sees the cleared flag.
//
// Start and Stop are called from one controlling thread at a time.  A
// subclass must call Stop in its own destructor (Run is virtual).
class WorkerThread : public WakeSignal {
 public:
  explicit WorkerThread(bool wakeOnStop);
  ~WorkerThread() override;

  // Starts the thread and returns when its body has begun.  A second Start
  // while a thread is held does nothing.  priority 0 is normal; other
  // values are taken as a nice increment for the thread.
  virtual void Start(int32_t priority = 0);

  // Clears the running flag, wakes the body when wakeOnStop, and waits
  // without a time limit until the thread has ended.
  virtual void Stop();

  bool running() const { return running_.load() != 0; }
  int32_t state() const { return state_.state(); }

 protected:
  // The thread's body: loops while running().
  virtual void Run() = 0;

  void ClearRunning() { running_.store(0); }

 private:
  void Entry(int32_t priority);

  ThreadState state_;
  std::mutex threadMutex_;  // guards thread_ against concurrent Start/Stop
  std::thread thread_;      // joinable while a thread is held
  std::atomic<int32_t> running_{0};
  const bool wakeOnStop_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_WORKER_THREAD_H_
