// Template parts of the Brelvane test harness.
#ifndef KAVELO_SERVICE_TEST_BRELVANE_HARNESS_INL_H_
#define KAVELO_SERVICE_TEST_BRELVANE_HARNESS_INL_H_

#include <chrono>
#include <thread>

namespace kavelo::service_test {

template <typename Condition>
bool WaitUntil(int timeoutMs, Condition condition) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace kavelo::service_test

#endif  // KAVELO_SERVICE_TEST_BRELVANE_HARNESS_INL_H_
