#include "service/host/control_socket.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "jobs/job_control.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/queue/print_thread.h"

namespace kavelo::service {

namespace {

constexpr int kPollSliceMs = 200;
// A client has this long to send its request.
constexpr int kRequestTimeoutMs = 2000;

std::string UserName(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return "uid " + std::to_string(uid);
}

bool ReadRequestLine(int fd, std::string* line) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
  std::string text;
  while (text.find('\n') == std::string::npos) {
    if (text.size() >= jobs::kControlLineLimit) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd ready{fd, POLLIN, 0};
    if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0) return false;
    char buffer[jobs::kControlLineLimit];
    ssize_t got = recv(fd, buffer, jobs::kControlLineLimit - text.size(), MSG_DONTWAIT);
    if (got <= 0) return false;
    text.append(buffer, static_cast<size_t>(got));
  }
  *line = text.substr(0, text.find('\n'));
  return true;
}

void Reply(int fd, bool ok, const std::string& text) {
  std::string line = (ok ? "ok " : "error ") + text + "\n";
  ssize_t ignored = send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  (void)ignored;
}

}  // namespace

bool MayControlJobs(uid_t uid, gid_t gid, uid_t serviceUid, gid_t serviceGid) {
  if (uid == 0 || uid == serviceUid || gid == serviceGid) return true;
  std::vector<char> buffer(16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return false;
  }
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(found->pw_name, gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(found->pw_name, gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<size_t>(count));
  for (gid_t group : groups) {
    if (group == serviceGid) return true;
  }
  return false;
}

ControlSocket::~ControlSocket() { Stop(); }

bool ControlSocket::Start(EventLogChannel* channel, PrintThread* printThread,
                          const std::string& path) {
  channel_ = channel;
  printThread_ = printThread;
  path_ = path;
  auto fail = [&](const std::string& why) {
    std::string text = "The control socket " + path + " " + why;
    channel_->Report(platform::EventType::kWarning, kMsgExceptionCaught, text.c_str());
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    return false;
  };
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return fail("has too long a path");
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // A socket file left by a service that ended is stale; one that answers
  // belongs to a running service and stays.
  std::string reply;
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe >= 0) {
    bool live = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    if (live) return fail("is in use by another running service");
  }
  unlink(path.c_str());
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return fail(std::string("cannot be made: ") + std::strerror(errno));
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return fail(std::string("cannot be bound: ") + std::strerror(errno));
  }
  // Before listen no one can connect: the mode is set first.
  if (chmod(path.c_str(), 0770) != 0 || listen(listener_, 16) != 0) {
    unlink(path.c_str());
    return fail(std::string("cannot be opened: ") + std::strerror(errno));
  }
  running_ = true;
  thread_ = std::thread(&ControlSocket::Run, this);
  return true;
}

void ControlSocket::Stop() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) {
    close(listener_);
    listener_ = -1;
    unlink(path_.c_str());
  }
}

void ControlSocket::Run() {
  while (running_) {
    printThread_->Upkeep();
    pollfd ready{listener_, POLLIN, 0};
    if (poll(&ready, 1, kPollSliceMs) <= 0) continue;
    int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    Serve(connection);
    close(connection);
  }
}

void ControlSocket::Serve(int connection) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
    Reply(connection, false, "the service cannot tell who asks");
    return;
  }
  const std::string user = UserName(peer.uid);
  std::string line;
  std::string action;
  int64_t number = 0;
  bool request = ReadRequestLine(connection, &line);
  if (!MayControlJobs(peer.uid, peer.gid, geteuid(), getegid())) {
    std::string text = "refused: the user " + user +
                       " is neither root, the service's account nor a member of its group";
    channel_->Report(platform::EventType::kWarning, kMsgJobAction, "-", text.c_str());
    Reply(connection, false, text);
    return;
  }
  if (!request || !jobs::ParseControlRequest(line, &action, &number)) {
    Reply(connection, false, "not a request: ACTION NUMBER (cancel, hold, release, retry)");
    return;
  }
  PrintThread::ActionResult result;
  if (action == "cancel") {
    result = printThread_->Cancel(number, user);
  } else if (action == "hold") {
    result = printThread_->Hold(number, user);
  } else if (action == "release") {
    result = printThread_->Release(number, user);
  } else {
    result = printThread_->Retry(number, user);
  }
  Reply(connection, result.ok, result.text);
}

}  // namespace kavelo::service
