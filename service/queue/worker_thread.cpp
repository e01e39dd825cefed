#include "service/queue/worker_thread.h"

#include <unistd.h>

#include <sys/resource.h>
#include <sys/syscall.h>

namespace kavelo::service {

WorkerThread::WorkerThread(bool wakeOnStop) : wakeOnStop_(wakeOnStop) {}

WorkerThread::~WorkerThread() {
  // A subclass stops its thread in its own destructor; this only keeps a
  // joinable handle from ending the program.
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (thread_.joinable()) thread_.join();
}

void WorkerThread::Start(int32_t priority) {
  {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (thread_.joinable()) return;
    state_.SetState(ThreadState::kStarting);
    thread_ = std::thread(&WorkerThread::Entry, this, priority);
  }
  state_.WaitForState(ThreadState::kRunning);
}

void WorkerThread::Entry(int32_t priority) {
  if (priority != 0) {
    // Linux threads carry their own nice value; failure leaves the default.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), priority);
  }
  // The flag is set before Start learns that the body runs, so that a Stop
  // right after Start always finds it set and clears it for good.
  running_.store(1);
  state_.SetState(ThreadState::kRunning);
  Run();
}

void WorkerThread::Stop() {
  running_.store(0);
  if (wakeOnStop_) Signal();
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (thread_.joinable()) {
    state_.SetState(ThreadState::kStopping);
    thread_.join();
  }
  state_.SetState(ThreadState::kStopped);
}

}  // namespace kavelo::service
