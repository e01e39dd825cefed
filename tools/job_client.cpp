#include "tools/job_client.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>

#include "protocol/intake_wire.h"

namespace kavelo {

namespace {

using protocol::kIntakeMagic;
using protocol::kIntakeVersion;
using protocol::kStatusRejected;
constexpr size_t kSendBlock = 64 * 1024;

std::string ErrnoText(int error) { return std::strerror(error); }

// Owns a socket or file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The wire side of one exchange, with the failure texts.
class Wire {
 public:
  explicit Wire(int fd) : fd_(fd) {}

  // more: further bytes follow at once, so the kernel may hold these back
  // to fill a segment (the last piece of a message goes without it).
  bool Send(const void* data, size_t n, bool more = false) {
    const char* in = static_cast<const char*>(data);
    while (n > 0) {
      ssize_t sent = send(fd_, in, n, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
      if (sent < 0) {
        if (errno == EINTR) continue;
        error_ = errno == EAGAIN || errno == EWOULDBLOCK
                     ? "the service did not take the data in time"
                     : "sending failed: " + ErrnoText(errno);
        return false;
      }
      in += sent;
      n -= static_cast<size_t>(sent);
    }
    return true;
  }
  bool SendU32(uint32_t v, bool more) {
    std::string wire = protocol::EncodeU32(v);
    return Send(wire.data(), wire.size(), more);
  }
  // One message in one send: split sends of a small message would wait for
  // the peer's delayed acknowledgement.
  bool SendCounted(const std::string& text) {
    std::string message = protocol::EncodeCountedString(text);
    return Send(message.data(), message.size());
  }

  bool Receive(void* data, size_t n) {
    char* out = static_cast<char*>(data);
    while (n > 0) {
      ssize_t got = recv(fd_, out, n, 0);
      if (got > 0) {
        out += got;
        n -= static_cast<size_t>(got);
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got == 0) {
        error_ = "the service closed the connection";
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        error_ = "no answer from the service in time";
      } else {
        error_ = "receiving failed: " + ErrnoText(errno);
      }
      return false;
    }
    return true;
  }
  bool ReceiveU16(uint16_t* v) {
    unsigned char wire[2];
    if (!Receive(wire, 2)) return false;
    *v = protocol::DecodeU16(wire);
    return true;
  }
  bool ReceiveCounted(std::string* text) {
    uint16_t n;
    if (!ReceiveU16(&n)) return false;
    text->assign(n, '\0');
    return n == 0 || Receive(&(*text)[0], n);
  }

  const std::string& error() const { return error_; }

 private:
  int fd_;
  std::string error_;
};

}  // namespace

int ConnectTcp(const std::string& host, int port, int timeoutMs, std::string* error,
               const std::string& sourceAddress) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (status != 0) {
    *error = "cannot resolve " + host + ": " + gai_strerror(status);
    return -1;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, freeaddrinfo);
  *error = "cannot connect to " + host + ":" + service;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    int result = 0;
    if (!sourceAddress.empty()) {
      addrinfo sourceHints{};
      sourceHints.ai_family = a->ai_family;
      sourceHints.ai_socktype = SOCK_STREAM;
      sourceHints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
      addrinfo* source = nullptr;
      result = getaddrinfo(sourceAddress.c_str(), nullptr, &sourceHints, &source) == 0 &&
                       bind(fd, source->ai_addr, source->ai_addrlen) == 0
                   ? 0
                   : -1;
      if (source != nullptr) freeaddrinfo(source);
    }
    if (result == 0) result = connect(fd, a->ai_addr, a->ai_addrlen);
    if (result != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int ready = poll(&p, 1, timeoutMs);
      int soError = ETIMEDOUT;
      socklen_t length = sizeof soError;
      if (ready > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
      result = soError == 0 ? 0 : -1;
      errno = soError;
    }
    if (result == 0) {
      int flags = fcntl(fd, F_GETFL);
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      error->clear();
      return fd;
    }
    *error += ": " + ErrnoText(errno);
    close(fd);
  }
  return -1;
}

JobClient::JobClient(std::string host, int port, int timeoutMs)
    : host_(std::move(host)), port_(port), timeoutMs_(timeoutMs) {}

JobResult JobClient::Send(const std::string& options, const JobDocument& xml,
                          const JobDocument& xsl) {
  JobResult result;
  auto fail = [&result](JobStep step, const std::string& detail) {
    result.outcome = JobOutcome::kFailed;
    result.step = step;
    result.detail = detail;
    return result;
  };
  auto note = [this](JobStep step, const std::string& text) {
    if (onStep_) onStep_(step, text);
  };
  if (options.size() > protocol::kCountedStringMax) {
    return fail(JobStep::kConnect, "the option text is longer than 65535 bytes");
  }

  // The documents are opened first, so that a missing file costs no
  // connection.
  struct Source {
    const JobDocument* document;
    std::unique_ptr<Descriptor> file;
    uint64_t size = 0;
  } sources[2] = {{&xml, nullptr, 0}, {&xsl, nullptr, 0}};
  for (Source& source : sources) {
    if (source.document->path.empty()) {
      source.size = source.document->data.size();
    } else {
      int fd = open(source.document->path.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat info;
      if (fd < 0 || fstat(fd, &info) != 0) {
        int error = errno;
        if (fd >= 0) close(fd);
        return fail(JobStep::kConnect,
                    "cannot read " + source.document->path + ": " + ErrnoText(error));
      }
      source.file = std::make_unique<Descriptor>(fd);
      source.size = static_cast<uint64_t>(info.st_size);
    }
    if (source.size > 0xFFFFFFFFull) {
      return fail(JobStep::kConnect, "a document is larger than 4294967295 bytes");
    }
  }

  std::string error;
  int fd = ConnectTcp(host_, port_, timeoutMs_, &error, sourceAddress_);
  if (fd < 0) return fail(JobStep::kConnect, error);
  Descriptor connection(fd);
  Wire wire(fd);
  note(JobStep::kConnect, "Connected to " + host_ + ":" + std::to_string(port_) + ".");

  // After a refusal the service sends the final status 1 and closes.
  auto refused = [&](JobStep step, const std::string& detail) {
    result.outcome = JobOutcome::kRefused;
    result.step = step;
    result.detail = detail;
    return result;
  };
  auto unexpected = [&](JobStep step, uint16_t status) {
    return fail(
        step, "unexpected answer 0x" + [status] {
          char hex[8];
          std::snprintf(hex, sizeof hex, "%04X", status);
          return std::string(hex);
        }() + " from the service");
  };

  uint16_t status;
  // Magic number.
  if (!wire.SendU32(kIntakeMagic, false) || !wire.ReceiveU16(&status)) {
    return fail(JobStep::kMagic, wire.error());
  }
  if (status == kStatusRejected)
    return refused(JobStep::kMagic, "the service rejected the magic number");
  if (status != 0) return unexpected(JobStep::kMagic, status);
  note(JobStep::kMagic, "The service accepted the magic number.");

  // Version challenge: the service sends its version, then its verdict.
  if (!wire.SendCounted(kIntakeVersion) || !wire.ReceiveCounted(&result.serviceVersion) ||
      !wire.ReceiveU16(&status)) {
    return fail(JobStep::kVersion, wire.error());
  }
  if (status == kStatusRejected) {
    return refused(JobStep::kVersion, "the service (protocol version " + result.serviceVersion +
                                          ") rejected protocol version " + kIntakeVersion);
  }
  if (status != 0) return unexpected(JobStep::kVersion, status);
  note(JobStep::kVersion,
       "The service speaks protocol version " + result.serviceVersion + " and accepted ours.");

  // Print options.
  if (!wire.SendCounted(options) || !wire.ReceiveU16(&status)) {
    return fail(JobStep::kOptions, wire.error());
  }
  if (status == 1) return refused(JobStep::kOptions, "the service could not use the print options");
  if (status != 0) return unexpected(JobStep::kOptions, status);
  note(JobStep::kOptions, options.empty() ? "The service accepted the empty option text."
                                          : "The service accepted the print options.");

  // The two documents.
  uint64_t total = sources[0].size + sources[1].size;
  uint64_t sent = 0;
  std::vector<char> block(kSendBlock);
  bool sendFailed = false;
  for (Source& source : sources) {
    bool lastSource = &source == &sources[1];
    if (!wire.SendU32(static_cast<uint32_t>(source.size), source.size > 0 || !lastSource)) {
      sendFailed = true;
      break;
    }
    uint64_t remaining = source.size;
    size_t offset = 0;
    while (remaining > 0 && !sendFailed) {
      size_t n = remaining < kSendBlock ? static_cast<size_t>(remaining) : kSendBlock;
      const char* piece;
      if (source.file) {
        ssize_t got = read(source.file->get(), block.data(), n);
        if (got <= 0) {
          return fail(JobStep::kDocuments,
                      "cannot read " + source.document->path +
                          (got < 0 ? ": " + ErrnoText(errno) : ": the file became shorter"));
        }
        n = static_cast<size_t>(got);
        piece = block.data();
      } else {
        piece = source.document->data.data() + offset;
      }
      bool more = remaining > n || !lastSource;
      if (!wire.Send(piece, n, more)) sendFailed = true;
      offset += n;
      remaining -= n;
      sent += n;
      if (onProgress_) onProgress_(sent, total);
    }
    if (sendFailed) break;
  }
  // A service that gave up on the documents has sent the final status 1;
  // read it even when the send failed.
  if (!wire.ReceiveU16(&status)) {
    return fail(JobStep::kDocuments,
                sendFailed ? "the service stopped taking the documents" : wire.error());
  }
  if (status == 1) {
    return refused(JobStep::kDocuments, "the service could not receive or store the documents");
  }
  if (status != 0) return unexpected(JobStep::kDocuments, status);
  note(JobStep::kDocuments,
       "The service received both documents (" + std::to_string(total) + " bytes).");

  // Final status.
  if (!wire.ReceiveU16(&status)) return fail(JobStep::kFinal, wire.error());
  if (status == protocol::kFinalNotQueued)
    return refused(JobStep::kFinal, "the service did not queue the job");
  if (status != 0) return unexpected(JobStep::kFinal, status);
  result.outcome = JobOutcome::kQueued;
  result.step = JobStep::kFinal;
  note(JobStep::kFinal, "The service queued the job.");
  return result;
}

}  // namespace kavelo
