#include "printcontrol/printing/stop_process.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"

namespace kavelo::printcontrol {
namespace {

TEST(StopProcessTest, KillsReapsAndEmptiesTheRecord) {
  platform::Process process;
  ASSERT_EQ(0, process.Start(std::vector<std::string>{"/bin/sleep", "30"}, true));
  int pid = process.pid();
  auto start = std::chrono::steady_clock::now();
  StopProcess(&process);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(process.IsValid());
  // Reaped: the process id no longer names a process (not even a zombie).
  EXPECT_EQ(-1, kill(pid, 0));
  EXPECT_EQ(ESRCH, errno);
  StopProcess(&process);  // an empty record: nothing
  StopProcess(nullptr);
}

}  // namespace
}  // namespace kavelo::printcontrol
