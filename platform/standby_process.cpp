#include "platform/standby_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include <sys/socket.h>

namespace kavelo::platform {

namespace {

bool IsEntry(const std::string& entry) {
  const size_t equals = entry.find('=');
  return equals != std::string::npos && equals > 0 && entry.find('\0') == std::string::npos;
}

bool SameLimits(const ResourceLimits& a, const ResourceLimits& b) {
  return a.addressSpaceBytes == b.addressSpaceBytes && a.fileSizeBytes == b.fileSizeBytes &&
         a.endsWithStarter == b.endsWithStarter;
}

// Writes all of text to a socket; false on any failure (the reader ended).
bool SendAll(int fd, const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string FormatStandbyRequest(const std::vector<std::string>& args,
                                 const std::vector<std::string>& environment) {
  if (args.empty()) return "";
  std::string text = std::to_string(args.size());
  text.push_back('\0');
  for (const std::string& arg : args) {
    if (arg.find('\0') != std::string::npos) return "";
    text += arg;
    text.push_back('\0');
  }
  for (const std::string& entry : environment) {
    if (!IsEntry(entry)) return "";
    text += entry;
    text.push_back('\0');
  }
  return text.size() <= kMaxStandbyRequest ? text : "";
}

bool ParseStandbyRequest(const std::string& text, std::vector<std::string>* args,
                         std::vector<std::string>* environment) {
  args->clear();
  environment->clear();
  if (text.empty() || text.size() > kMaxStandbyRequest || text.back() != '\0') return false;
  std::vector<std::string> fields;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\0', start);
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  const std::string& count = fields[0];
  if (count.empty() || count.size() > 5 ||
      count.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const size_t argCount = std::strtoul(count.c_str(), nullptr, 10);
  if (argCount == 0 || argCount > fields.size() - 1) return false;
  for (size_t i = 1 + argCount; i < fields.size(); ++i) {
    if (!IsEntry(fields[i])) return false;
  }
  args->assign(fields.begin() + 1, fields.begin() + 1 + static_cast<ptrdiff_t>(argCount));
  environment->assign(fields.begin() + 1 + static_cast<ptrdiff_t>(argCount), fields.end());
  return true;
}

int ReceiveStandbyRequest(std::vector<std::string>* args) {
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxStandbyRequest) return -1;
  }
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, 0);
    ::close(null);
  }
  if (text.empty()) return 0;
  std::vector<std::string> environment;
  if (!ParseStandbyRequest(text, args, &environment)) return -1;
  for (const std::string& entry : environment) {
    const size_t equals = entry.find('=');
    if (::setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1) != 0) return -1;
  }
  return 1;
}

int StandbyProcess::Prepare(const std::string& program, const ResourceLimits& limits) {
  End();
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return errno;
  // The program reads; this side only writes.
  ::shutdown(fds[0], SHUT_RD);
  ResourceLimits start = limits;
  start.standardInput = fds[1];
  const int error = process_.Start({program, kStandbySwitch}, /*quiet=*/false, start);
  ::close(fds[1]);
  if (error != 0) {
    ::close(fds[0]);
    return error;
  }
  request_ = fds[0];
  program_ = program;
  limits_ = limits;
  return 0;
}

bool StandbyProcess::Hand(const std::vector<std::string>& args, const ResourceLimits& limits,
                          const std::vector<std::string>& environment, Process* process) {
  if (!process_.IsValid()) return false;
  const std::string request = FormatStandbyRequest(args, environment);
  // A program that ended (or was killed) while it waited cannot take it.
  const bool usable = !request.empty() && args[0] == program_ && SameLimits(limits, limits_) &&
                      process_.Wait(0) == kWaitTimeout;
  if (!usable || !SendAll(request_, request)) {
    End();
    return false;
  }
  ::close(request_);
  request_ = -1;
  *process = std::move(process_);
  return true;
}

void StandbyProcess::End(int waitMs) {
  if (request_ >= 0) {
    ::close(request_);
    request_ = -1;
  }
  if (!process_.IsValid()) return;
  if (process_.Wait(waitMs) != 0) {
    process_.Terminate();
    process_.Wait(waitMs);
  }
  process_ = Process();
}

}  // namespace kavelo::platform
