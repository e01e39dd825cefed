#include "service/status/bounded_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace kavelo::service {

namespace {

using Clock = std::chrono::steady_clock;
// Every wait on a client is cut into slices this long, so that a stop is
// seen within one.
constexpr int kSliceMs = 100;

void AddressOf(int sock, bool peer, std::string* ip, int* port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  int status = peer ? getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length)
                    : getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
  ip->clear();
  *port = 0;
  if (status != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    *port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    *port = ntohs(v6->sin6_port);
  }
  *ip = text;
}

}  // namespace

// The accepted connections: a fixed set of workers and a bounded list of
// waiting connections.  A full list holds the accept thread back, so that
// further clients wait in the listening socket's backlog, not in the
// service's memory and descriptors.
class BoundedHttpServer::Queue : public httplib::TaskQueue {
 public:
  Queue(int workers, size_t pending, const std::atomic<bool>& closing)
      : pending_(pending), closing_(closing) {
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~Queue() override { shutdown(); }

  void enqueue(std::function<void()> fn) override {
    std::unique_lock<std::mutex> lock(mutex_);
    // Once closing, the connection is still handed over: its worker ends it
    // at once, and this is the only way to close its socket.
    while (jobs_.size() >= pending_ && !closing_.load()) {
      changed_.wait_for(lock, std::chrono::milliseconds(kSliceMs));
    }
    jobs_.push_back(std::move(fn));
    changed_.notify_all();
  }

  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
      changed_.notify_all();
    }
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> fn;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return ended_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // ended, and nothing left to close
        fn = std::move(jobs_.front());
        jobs_.pop_front();
        changed_.notify_all();
      }
      fn();
    }
  }

  const size_t pending_;
  const std::atomic<bool>& closing_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;  // guarded by mutex_
  bool ended_ = false;                      // guarded by mutex_
  std::vector<std::thread> threads_;
};

// One accepted socket as cpp-httplib reads and writes it: buffered reads up
// to the request's byte limit (then the end of the input, so that a request
// line or header cut there is answered as too long), every wait bounded by
// the request's or the response's deadline and by a stop.
class BoundedHttpServer::Connection : public httplib::Stream {
 public:
  Connection(int sock, const HttpLimits& limits, const std::atomic<bool>& closing)
      : sock_(sock),
        limits_(limits),
        closing_(closing),
        readDeadline_(Clock::now() + std::chrono::milliseconds(limits.requestMs)) {}

  bool is_readable() const override { return begin_ < end_ || Wait(POLLIN, Clock::now()); }
  bool is_writable() const override { return Wait(POLLOUT, Clock::now()); }

  ssize_t read(char* ptr, size_t size) override {
    if (begin_ == end_) {
      if (received_ >= limits_.requestBytes) return 0;
      if (!Wait(POLLIN, readDeadline_)) return -1;
      size_t room = std::min(sizeof buffer_, limits_.requestBytes - received_);
      ssize_t got = recv(sock_, buffer_, room, MSG_DONTWAIT);
      if (got <= 0) return got == 0 ? 0 : -1;
      received_ += static_cast<size_t>(got);
      begin_ = 0;
      end_ = static_cast<size_t>(got);
    }
    size_t n = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!writing_) {
      writing_ = true;
      writeDeadline_ = Clock::now() + std::chrono::milliseconds(limits_.responseMs);
    }
    size_t sent = 0;
    while (sent < size) {
      if (!Wait(POLLOUT, writeDeadline_)) return -1;
      ssize_t n = send(sock_, ptr + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) return -1;
      sent += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(sock_, /*peer=*/true, &ip, &port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(sock_, /*peer=*/false, &ip, &port);
  }
  int socket() const override { return sock_; }

 private:
  // True once the socket is ready for the events; false at the deadline, on
  // a stop or an error.  A deadline already past still polls once.
  bool Wait(short events, Clock::time_point deadline) const {
    for (;;) {
      if (closing_.load()) return false;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      int slice = static_cast<int>(std::clamp<int64_t>(left.count(), 0, kSliceMs));
      pollfd ready{sock_, events, 0};
      int n = poll(&ready, 1, slice);
      if (n > 0) return (ready.revents & (events | POLLHUP | POLLERR)) != 0;
      if (n < 0 && errno != EINTR) return false;
      if (left.count() <= kSliceMs) return false;
    }
  }

  const int sock_;
  const HttpLimits& limits_;
  const std::atomic<bool>& closing_;
  const Clock::time_point readDeadline_;
  Clock::time_point writeDeadline_;
  bool writing_ = false;
  char buffer_[4096];
  size_t begin_ = 0;
  size_t end_ = 0;
  size_t received_ = 0;
};

BoundedHttpServer::BoundedHttpServer(HttpLimits limits) : limits_(limits) {
  new_task_queue = [this] {
    return new Queue(limits_.workers, static_cast<size_t>(limits_.pending), closing_);
  };
  set_payload_max_length(limits_.requestBytes);
}

BoundedHttpServer::~BoundedHttpServer() { Close(); }

int BoundedHttpServer::Open(const std::string& address, int port) {
  address_ = address;
  if (port == 0) {
    port_ = bind_to_any_port(address);
    if (port_ < 0) port_ = 0;
  } else {
    port_ = bind_to_port(address, port) ? port : 0;
  }
  return port_;
}

void BoundedHttpServer::Start() {
  if (thread_.joinable() || port_ == 0) return;
  thread_ = std::thread([this] { AcceptLoop(); });
}

void BoundedHttpServer::AcceptLoop() {
  while (!closing_.load()) {
    listen_after_bind();
    // The accept loop ended: on a stop, or on an accept error cpp-httplib
    // does not pass over.  The door opens again after a pause.
    for (int waited = 0; waited < 1000 && !closing_.load(); waited += kSliceMs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
    }
    if (closing_.load() || !bind_to_port(address_, port_)) break;
  }
  acceptEnded_.store(true);
}

void BoundedHttpServer::Close() {
  closing_.store(true);
  if (!thread_.joinable()) return;
  // stop() only reaches an accept loop that has begun: it is repeated until
  // the accept thread has ended.
  while (!acceptEnded_.load()) {
    stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  thread_.join();
}

bool BoundedHttpServer::process_and_close_socket(int sock) {
  fcntl(sock, F_SETFD, FD_CLOEXEC);
  {
    Connection connection(sock, limits_, closing_);
    bool closed = false;
    process_request(connection, /*close_connection=*/true, closed, nullptr);
  }
  shutdown(sock, SHUT_RDWR);
  close(sock);
  return true;
}

}  // namespace kavelo::service
