// The service's control queue: carries control codes from the handler,
// which runs on the dispatcher's thread, to the control loop on the service
// thread.  It stands where a completion port bound to no file would.
#ifndef KAVELO_SERVICE_CONTROL_QUEUE_H_
#define KAVELO_SERVICE_CONTROL_QUEUE_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace kavelo::service {

// Thread safe.  Codes are taken in the order they were posted.  A code
// posted before Create is kept for the loop (a stop that arrives while the
// service is starting is not lost); Close drops whatever is still queued.
class ControlQueue {
 public:
  ControlQueue() = default;
  ControlQueue(const ControlQueue&) = delete;
  ControlQueue& operator=(const ControlQueue&) = delete;

  // Opens the queue for Take.  Returns true.
  bool Create();
  // Closes the queue: queued codes are dropped and a waiting Take returns
  // false.
  void Close();
  bool IsOpen() const;

  // Appends a code and wakes the taker.  Never blocks on the taker.
  void Post(uint32_t code);

  // Waits without a limit for the next code.  Returns false when the queue
  // is (or becomes) closed.
  bool Take(uint32_t* code);

 private:
  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<uint32_t> codes_;  // guarded by mutex_
  bool open_ = false;           // guarded by mutex_
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_CONTROL_QUEUE_H_
