#include "jobs/job_control.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kavelo::jobs {

namespace {

constexpr const char* kActions[] = {"cancel", "hold", "release", "retry"};

}  // namespace

bool IsControlAction(const std::string& action) {
  for (const char* known : kActions) {
    if (action == known) return true;
  }
  return false;
}

std::string FormatControlRequest(const std::string& action, int64_t number) {
  return action + " " + std::to_string(number) + "\n";
}

bool ParseControlRequest(const std::string& line, std::string* action, int64_t* number) {
  size_t blank = line.find(' ');
  if (blank == std::string::npos || blank + 1 >= line.size() || line.size() > 40) return false;
  std::string digits = line.substr(blank + 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 18) {
    return false;
  }
  *action = line.substr(0, blank);
  *number = std::stoll(digits);
  return IsControlAction(*action) && *number > 0;
}

ControlOutcome SendControlRequest(const std::string& path, const std::string& action,
                                  int64_t number, std::string* text) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    *text = "the control socket's path is too long: " + path;
    return ControlOutcome::kUnreachable;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *text = std::string("cannot make a socket: ") + std::strerror(errno);
    return ControlOutcome::kUnreachable;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *text = "the service cannot be reached at " + path + ": " + std::strerror(errno);
    close(fd);
    return ControlOutcome::kUnreachable;
  }
  std::string request = FormatControlRequest(action, number);
  std::string reply;
  // A service that refuses the user may answer and close before the
  // request is read: its answer is read all the same.
  ssize_t ignored = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  (void)ignored;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kControlTimeoutMs);
  while (reply.find('\n') == std::string::npos && reply.size() < kControlLineLimit) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd ready{fd, POLLIN, 0};
    if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) break;
    char buffer[kControlLineLimit];
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    reply.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  size_t end = reply.find('\n');
  if (end == std::string::npos) {
    *text = "the service gave no answer";
    return ControlOutcome::kUnreachable;
  }
  reply.resize(end);
  if (reply.compare(0, 3, "ok ") == 0) {
    *text = reply.substr(3);
    return ControlOutcome::kDone;
  }
  *text = reply.compare(0, 6, "error ") == 0 ? reply.substr(6) : reply;
  return ControlOutcome::kRefused;
}

}  // namespace kavelo::jobs
