// Polling waits of tests: every wait has a limit.
#ifndef KAVELO_TESTSUPPORT_WAIT_H_
#define KAVELO_TESTSUPPORT_WAIT_H_

#include <chrono>
#include <thread>

namespace kavelo::testsupport {

// Waits (at most timeoutMs, polling every 20 ms) until condition() holds.
template <typename Condition>
bool WaitUntil(int timeoutMs, Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_WAIT_H_
