#include "service/intake/intake_listener.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <new>
#include <system_error>
#include <thread>
#include <tuple>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include "common/exceptions.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/intake/connection_socket.h"
#include "service/intake/intake_exchange.h"
#include "service/intake/proxy_header.h"
#include "service/intake/socket_stream.h"
#include "service/intake/spool_file.h"
#include "service/queue/queue_thread.h"

namespace kavelo::service {

namespace {

std::string SpoolName(const std::string& directory, int32_t n, const char* extension) {
  char number[16];
  std::snprintf(number, sizeof number, "%08d", n);
  return directory + "/" + number + extension;
}

// accept errors that concern one connection only (Linux reports pending
// network errors of the new connection through accept): the next
// connection is accepted as usual.
bool IsConnectionError(int error) {
  switch (error) {
    case EINTR:
    case EAGAIN:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case ETIMEDOUT:
      return true;
    default:
      return false;
  }
}

// accept errors from a shortage of descriptors or memory, which pass.
bool IsResourceShortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// The socket's buffer size as the system has it; Linux reports twice the
// usable size, which is what a setter's value is compared with.
int32_t CurrentBuffer(int socket, int option) {
  int size = 0;
  socklen_t length = sizeof size;
  if (getsockopt(socket, SOL_SOCKET, option, &size, &length) != 0) return 0;
  return size / 2;
}

void Unreserve(const std::string& xmlPath, const std::string& xslPath) {
  unlink(xmlPath.c_str());
  unlink(xslPath.c_str());
}

int BindAndListen(const sockaddr* address, socklen_t length, int32_t backlog) {
  int listener = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return -1;
  int one = 1;
  int zero = 0;
  // IPv4 clients reach an IPv6 socket as mapped addresses.
  bool ok = (address->sa_family != AF_INET6 ||
             setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero) == 0) &&
            setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
            bind(listener, address, length) == 0 && listen(listener, backlog) == 0;
  if (ok) return listener;
  int error = errno;
  close(listener);
  errno = error;
  return -1;
}

}  // namespace

int OpenListeningSocket(const std::string& address, int32_t port, int32_t backlog) {
  if (address.empty()) {
    sockaddr_in6 any6{};
    any6.sin6_family = AF_INET6;
    any6.sin6_port = htons(static_cast<uint16_t>(port));
    any6.sin6_addr = in6addr_any;
    int listener = BindAndListen(reinterpret_cast<sockaddr*>(&any6), sizeof any6, backlog);
    // A machine without IPv6 (no such family, or no address for it).
    if (listener >= 0 || (errno != EAFNOSUPPORT && errno != EADDRNOTAVAIL)) return listener;
    sockaddr_in any4{};
    any4.sin_family = AF_INET;
    any4.sin_port = htons(static_cast<uint16_t>(port));
    any4.sin_addr.s_addr = htonl(INADDR_ANY);
    return BindAndListen(reinterpret_cast<sockaddr*>(&any4), sizeof any4, backlog);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    errno = EADDRNOTAVAIL;
    return -1;
  }
  int listener = BindAndListen(found->ai_addr, found->ai_addrlen, backlog);
  int error = errno;
  freeaddrinfo(found);
  errno = error;
  return listener;
}

std::pair<std::string, std::string> ChooseSpoolNames(const std::string& spoolDirectory,
                                                     uint32_t* next) {
  uint32_t p = static_cast<uint32_t>(getpid());
  uint32_t t = static_cast<uint32_t>(syscall(SYS_gettid));
  for (;;) {
    // Wraps like the signed 32-bit sum it stands for.
    uint32_t sum = static_cast<uint32_t>(std::time(nullptr)) + t + p;
    if (next != nullptr && *next != 0 && static_cast<int32_t>(sum - *next) < 0) {
      p += *next - sum;  // start at the first number not used yet
      sum = *next;
    }
    int32_t n = static_cast<int32_t>(sum);
    std::string xml = SpoolName(spoolDirectory, n, ".xml");
    std::string xsl = SpoolName(spoolDirectory, n, ".xsl");
    int error = SpoolFile::CreateReservation(xml);
    if (error == 0) {
      error = SpoolFile::CreateReservation(xsl);
      if (error == EEXIST) unlink(xml.c_str());
    }
    if (error != EEXIST) {
      if (next != nullptr) *next = sum + 1 == 0 ? 1 : sum + 1;
      return {xml, xsl};
    }
    ++p;
    ++t;
  }
}

struct IntakeListener::AcceptedConnection {
  IntakeListener* listener;
  ConnectionList::iterator entry;  // this connection in the listener's list
  int socket;
  PeerAddress peer;
  bool viaProxy;  // a trusted proxy's connection: its header names the client
  std::string xmlPath;  // whole, never cut
  std::string xslPath;
};

IntakeListener::IntakeListener() : WorkerThread(/*wakeOnStop=*/false) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

IntakeListener::~IntakeListener() {
  Stop();  // joins every connection thread
  if (wakeFd_ >= 0) close(wakeFd_);
}

void IntakeListener::Initialize(EventLogChannel* channel, QueueThread* printThread,
                                const IntakeSettings& settings) {
  if (channel == nullptr || printThread == nullptr) throw NullPointerException();
  channel_ = channel;
  printThread_ = printThread;
  settings_ = settings;
  admission_.Configure(settings.limits, settings.spoolerDirectory, &printThread->jobs());
}

void IntakeListener::Initialize(EventLogChannel* channel, QueueThread* printThread,
                                const ParameterValues& values, const std::string& listenAddress,
                                const ClientLimits& limits) {
  IntakeSettings settings;
  settings.port = values.port;
  settings.maxConnections = values.maxConnections;
  settings.keepAlive = values.keepAlive;
  settings.timeout = values.timeout;
  settings.sendBuffer = values.sendBuffer;
  settings.recvBuffer = values.recvBuffer;
  settings.printerApplication = values.printerApplication;
  settings.useDefaultPrinter = values.useDefaultPrinter;
  settings.printerName = values.printerName;
  settings.spoolerDirectory = values.spoolerDirectory;
  settings.bindAddress = listenAddress;
  settings.limits = limits;
  Initialize(channel, printThread, settings);
}

void IntakeListener::Stop() {
  ClearRunning();
  if (wakeFd_ >= 0) {
    uint64_t one = 1;
    ssize_t ignored = write(wakeFd_, &one, sizeof one);
    (void)ignored;
  }
  WorkerThread::Stop();
  // The listener thread has ended: no connection is added any more.
  StopConnections();
}

void IntakeListener::StopConnections() {
  ConnectionList all;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    // A receive or send blocked on a shut-down socket returns at once, so
    // every exchange fails its step and ends without waiting for its
    // client or its time-out.
    for (Connection& connection : connections_) {
      if (!connection.ended) shutdown(connection.socket, SHUT_RDWR);
    }
    all.splice(all.end(), connections_);
  }
  for (Connection& connection : all) {
    connection.thread.join();
    close(connection.socket);
  }
}

void IntakeListener::ReapEndedConnections() {
  ConnectionList ended;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if (it->ended) ended.splice(ended.end(), connections_, it);
      it = next;
    }
  }
  // Each of these threads is returning or has returned: the joins are short.
  for (Connection& connection : ended) {
    connection.thread.join();
    close(connection.socket);
  }
}

void IntakeListener::PublishPort(int32_t port) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  boundPort_ = port;
  stateChanged_.notify_all();
}

int32_t IntakeListener::WaitListening(int32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(stateMutex_);
  stateChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return boundPort_ >= 0; });
  return boundPort_ > 0 ? boundPort_ : 0;
}

bool IntakeListener::WaitConnectionsIdle(int32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(stateMutex_);
  return stateChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return activeConnections_.load() == 0; });
}

void IntakeListener::ConnectionEnded(ConnectionList::iterator connection) {
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    connection->ended = true;
  }
  std::lock_guard<std::mutex> lock(stateMutex_);
  activeConnections_.fetch_sub(1);
  stateChanged_.notify_all();
}

void IntakeListener::Run() {
  {
    // Drop a wake-up left over from an earlier Stop.
    uint64_t count;
    ssize_t ignored = read(wakeFd_, &count, sizeof count);
    (void)ignored;
    std::lock_guard<std::mutex> lock(stateMutex_);
    boundPort_ = -1;
  }
  int listener = -1;
  try {
    // 2. The listening socket.
    listener = OpenListeningSocket(settings_.bindAddress, settings_.port, settings_.maxConnections);
    if (listener < 0) {
      char code[16];
      std::snprintf(code, sizeof code, "%u", static_cast<unsigned>(errno));
      channel_->Report(platform::EventType::kError, kMsgListenerStartFailed, code);
      ClearRunning();
      PublishPort(0);
      return;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    PeerAddress local;
    PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&address), length, &local);
    PublishPort(local.port);

    // 3. The accept loop, then 4.
    ListenLoop(listener);
    close(listener);
    listener = -1;
    PublishPort(0);
    char port[16];
    std::snprintf(port, sizeof port, "%d", settings_.port);
    channel_->Report(platform::EventType::kInformation, kMsgListenerStopped, port);
  } catch (const std::exception& e) {
    if (listener >= 0) close(listener);
    ClearRunning();
    PublishPort(0);
    channel_->Report(platform::EventType::kError, kMsgExceptionCaught, ExceptionReportText(e).c_str());
  }
}

bool IntakeListener::PauseAfterAcceptFailure() {
  pollfd wake{wakeFd_, POLLIN, 0};
  return poll(&wake, 1, 100) == 0 && running();
}

bool IntakeListener::ListenLoop(int listener) {
  bool shortageReported = false;
  while (running()) {
    pollfd fds[2] = {{listener, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    // Wakes once a second to join the connection threads that have ended.
    int ready = poll(fds, 2, 1000);
    if (!running() || (ready > 0 && (fds[1].revents & POLLIN))) break;  // Stop: interrupted
    ReapEndedConnections();
    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
    sockaddr_storage address;
    socklen_t length = sizeof address;
    int socket = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    if (socket >= 0) {
      shortageReported = false;
      PeerAddress peer;
      PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&address), length, &peer);
      bool viaProxy = settings_.limits.trustedProxies.Contains(peer);
      if (viaProxy || AdmitClient(socket, peer)) Serve(socket, peer, viaProxy);
    } else {
      int error = errno;
      if (!running()) break;  // interrupted by Stop
      if (IsConnectionError(error)) continue;
      char code[16];
      std::snprintf(code, sizeof code, "%u", static_cast<unsigned>(error));
      if (IsResourceShortage(error)) {
        // A burst of connections that exhausts descriptors or memory must not
        // close the door for good: report once, pause, and accept again.
        if (!shortageReported) {
          channel_->Report(platform::EventType::kError, kMsgAcceptFailed, code);
          shortageReported = true;
        }
        if (!PauseAfterAcceptFailure()) break;
        continue;
      }
      channel_->Report(platform::EventType::kError, kMsgAcceptFailed, code);
      ClearRunning();
      break;
    }
    std::this_thread::yield();
  }
  return true;
}

bool IntakeListener::AdmitClient(int socket, const PeerAddress& peer) {
  uint32_t refusal;
  RefusalKind kind;
  std::string bound;
  if (!admission_.Allows(peer)) {
    refusal = kMsgClientNotAllowed;
    kind = RefusalKind::kNotAllowed;
  } else if (!admission_.TakeConnection(peer)) {
    refusal = kMsgClientBoundReached;
    kind = RefusalKind::kConnections;
    bound = "MaxConnectionsPerClient " +
            std::to_string(admission_.limits().maxConnectionsPerClient);
  } else {
    return true;
  }
  close(socket);
  if (admission_.ShouldReport(peer, kind)) {
    std::string address = FormatPeerAddress(peer);
    channel_->Report(platform::EventType::kWarning, refusal, address.c_str(),
                     bound.empty() ? nullptr : bound.c_str());
  }
  return false;
}

std::pair<std::string, std::string> IntakeListener::NextSpoolNames() {
  std::lock_guard<std::mutex> lock(spoolNamesMutex_);
  return ChooseSpoolNames(settings_.spoolerDirectory, &nextSpoolNumber_);
}

bool IntakeListener::ReceiveProxyHeader(int socket, PeerAddress* client) {
  uint8_t bytes[kProxyHeaderMax];
  size_t have = 0;
  // The first four bytes, then the fixed part, then the rest: a connection
  // that sends the intake's magic number instead is refused at once.
  size_t want = 4;
  ProxyHeader header;
  for (;;) {
    while (have < want) {
      ssize_t got = recv(socket, bytes + have, want - have, MSG_WAITALL);
      if (got <= 0 && errno == EINTR) continue;
      if (got <= 0) break;
      have += static_cast<size_t>(got);
    }
    if (have < want) break;
    ProxyParse parse = ParseProxyHeader(bytes, have, &header, &want);
    if (parse == ProxyParse::kComplete) {
      if (header.hasClient) *client = header.client;
      return true;
    }
    if (parse == ProxyParse::kInvalid) {
      SocketWriter writer(socket);
      writer.WriteStatus(kStatusRejected);
      writer.WriteStatus(kFinalNotQueued);
      break;
    }
  }
  channel_->Report(platform::EventType::kError, kMsgBadMagic);
  CloseConnection(socket);
  return false;
}

void IntakeListener::Serve(int socket, const PeerAddress& peer, bool viaProxy) {
  std::pair<std::string, std::string> names;
  if (!viaProxy) names = NextSpoolNames();
  auto* connection = new (std::nothrow) AcceptedConnection;
  // The listener's own descriptor of the socket, for Stop to shut it down.
  int tracked = connection == nullptr ? -1 : fcntl(socket, F_DUPFD_CLOEXEC, 0);
  bool started = false;
  if (tracked >= 0) {
    connection->listener = this;
    connection->socket = socket;
    connection->peer = peer;
    connection->viaProxy = viaProxy;
    connection->xmlPath = std::move(names.first);
    connection->xslPath = std::move(names.second);
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    // The new thread frees *connection as its first act: only entry is
    // used once it runs.
    ConnectionList::iterator entry = connections_.emplace(connections_.end());
    entry->socket = tracked;
    connection->entry = entry;
    activeConnections_.fetch_add(1);
    try {
      entry->thread = std::thread(&IntakeListener::ConnectionEntry, connection);
      started = true;
    } catch (const std::system_error&) {
      connections_.erase(entry);
      activeConnections_.fetch_sub(1);
      names = {connection->xmlPath, connection->xslPath};
    }
  }
  if (!started) {
    // No thread for this connection: it is closed and the loop goes on.
    delete connection;
    if (tracked >= 0) close(tracked);
    close(socket);
    if (!viaProxy) {
      Unreserve(names.first, names.second);
      admission_.ReleaseConnection(peer);
    }
    channel_->Report(platform::EventType::kError, kMsgOutOfMemory);
  }
}

void IntakeListener::ConnectionEntry(AcceptedConnection* connection) {
  IntakeListener* listener = connection->listener;
  ConnectionList::iterator entry = connection->entry;
  int socket = connection->socket;
  PeerAddress peer = connection->peer;
  const bool viaProxy = connection->viaProxy;
  std::string xmlPath = std::move(connection->xmlPath);
  std::string xslPath = std::move(connection->xslPath);
  delete connection;
  const IntakeSettings& settings = listener->settings_;
  bool handedOver = false;
  bool counted = !viaProxy;  // a direct client's connection is counted already
  try {
    ConnectionSocket options(socket);
    bool configured = false;
    try {
      // What the setters report is not examined: an option the system
      // refuses stays as the system has it.
      options.SetDontLinger(1);
      options.SetNoDelay(1);
      options.SetKeepAlive(settings.keepAlive);
      // Every wait on the network has a limit: a Timeout of 0 (no limit)
      // is taken as the default time-out.
      int32_t timeout = settings.timeout == 0 ? 300000 : settings.timeout;
      options.SetReceiveTimeout(timeout);
      // A buffer size is applied only where it enlarges the system's
      // buffer: a fixed size below it turns off Linux's automatic tuning
      // and stalls a large transfer (a 4096-byte receive buffer takes
      // minutes for what loopback moves in seconds).  A negative value
      // still raises.
      if (settings.sendBuffer < 0 || settings.sendBuffer > CurrentBuffer(socket, SO_SNDBUF)) {
        options.SetSendBufferSize(settings.sendBuffer);
      }
      if (settings.recvBuffer < 0 || settings.recvBuffer > CurrentBuffer(socket, SO_RCVBUF)) {
        options.SetReceiveBufferSize(settings.recvBuffer);
      }
      options.SetSendTimeout(timeout);
      configured = true;
    } catch (const std::exception& e) {
      listener->channel_->Report(platform::EventType::kError, kMsgSocketIoError,
                                 ExceptionReportText(e).c_str());
    }
    // A proxied connection's client is known once its header is read: it
    // is then held to the bounds of a direct one, and its spool names are
    // chosen.  Its connection is counted from here.
    if (configured && viaProxy) {
      handedOver = true;  // closed by the checks that refuse it
      if (!listener->ReceiveProxyHeader(socket, &peer) || !listener->AdmitClient(socket, peer)) {
        listener->ConnectionEnded(entry);
        return;
      }
      handedOver = false;
      counted = true;
      std::tie(xmlPath, xslPath) = listener->NextSpoolNames();
    }
    if (configured) {
      IntakeExchange exchange(listener->channel_, listener->printThread_,
                              settings.printerApplication, settings.printerName);
      exchange.SetClient(peer, &listener->admission_);
      handedOver = true;  // the exchange closes the socket
      exchange.Run(socket, xmlPath, xslPath, /*filesReserved=*/true);
    } else {
      handedOver = true;
      close(socket);
      Unreserve(xmlPath, xslPath);
    }
  } catch (const std::exception& e) {
    listener->channel_->Report(platform::EventType::kError, kMsgSocketIoError,
                               ExceptionReportText(e).c_str());
    if (!handedOver) {
      close(socket);
      Unreserve(xmlPath, xslPath);
    }
  }
  if (counted) listener->admission_.ReleaseConnection(peer);
  listener->ConnectionEnded(entry);
}

}  // namespace kavelo::service
