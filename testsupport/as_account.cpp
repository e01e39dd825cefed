#include "testsupport/as_account.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <sys/wait.h>

#include "platform/account.h"

namespace kavelo::testsupport {

int RunAsAccount(const std::string& account, const std::function<int()>& body, int timeoutMs) {
  platform::Account target;
  if (!platform::LookUpAccount(account, &target)) return -1;
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!platform::SwitchToAccount(target).empty()) _exit(125);
    int result = body();
    _exit(result >= 0 && result <= 124 ? result : 124);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 124) return -1;
  return WEXITSTATUS(status);
}

}  // namespace kavelo::testsupport
