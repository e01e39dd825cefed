#include "service/intake/socket_stream.h"

#include <errno.h>

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "protocol/intake_wire.h"

namespace kavelo::service {

void SocketReader::BeginStep() {
  if (readTimeoutMs_ < 0) {
    timeval limit{};
    socklen_t length = sizeof limit;
    readTimeoutMs_ = getsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, &length) == 0
                         ? int64_t{limit.tv_sec} * 1000 + limit.tv_usec / 1000
                         : 0;
    armedMs_ = readTimeoutMs_;
  }
  paced_ = true;
  stepStart_ = std::chrono::steady_clock::now();
  stepBytes_ = 0;
}

bool SocketReader::Arm() {
  if (!paced_) return true;
  const int64_t grace = readTimeoutMs_ > 0 ? readTimeoutMs_ : kDefaultStepGraceMs;
  const int64_t allowed = grace + stepBytes_ * 1000 / kMinimumReceiveRate;
  const int64_t elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - stepStart_)
                              .count();
  const int64_t left = allowed - elapsed;
  if (left <= 0) {
    lastError_ = ETIMEDOUT;
    return false;
  }
  // Usually the read's own time-out is the shorter one and nothing changes.
  const int64_t wait = readTimeoutMs_ > 0 ? std::min(readTimeoutMs_, left) : left;
  if (wait != armedMs_) {
    timeval limit{static_cast<time_t>(wait / 1000), static_cast<suseconds_t>(wait % 1000 * 1000)};
    if (setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0) armedMs_ = wait;
  }
  return true;
}

void SocketReader::Received(ssize_t got) {
  if (got > 0) stepBytes_ += got;
}

bool SocketReader::Fill() {
  for (;;) {
    if (!Arm()) return false;
    ssize_t got = recv(socket_, buffer_, sizeof buffer_, 0);
    Received(got);
    if (got > 0) {
      begin_ = 0;
      end_ = static_cast<size_t>(got);
      return true;
    }
    if (got == 0) {
      lastError_ = 0;
      return false;
    }
    if (errno == EINTR) continue;
    lastError_ = errno == EWOULDBLOCK ? EAGAIN : errno;
    return false;
  }
}

bool SocketReader::Read(void* data, size_t n) {
  size_t delivered;
  return Read(data, n, &delivered);
}

bool SocketReader::Read(void* data, size_t n, size_t* delivered) {
  char* const first = static_cast<char*>(data);
  char* out = first;
  bool complete = true;
  while (n > 0) {
    if (begin_ == end_) {
      if (n >= sizeof buffer_) {
        // A large read goes straight into the caller's memory, waiting for
        // all of it in one call (the receive time-out still ends it).
        if (!Arm()) {
          complete = false;
          break;
        }
        ssize_t got = recv(socket_, out, n, MSG_WAITALL);
        Received(got);
        if (got > 0) {
          out += got;
          n -= static_cast<size_t>(got);
          continue;
        }
        if (got < 0 && errno == EINTR) continue;
        lastError_ = got == 0 ? 0 : (errno == EWOULDBLOCK ? EAGAIN : errno);
        complete = false;
        break;
      }
      if (!Fill()) {
        complete = false;
        break;
      }
    }
    size_t take = end_ - begin_ < n ? end_ - begin_ : n;
    std::memcpy(out, buffer_ + begin_, take);
    begin_ += take;
    out += take;
    n -= take;
  }
  *delivered = static_cast<size_t>(out - first);
  return complete;
}

bool SocketReader::ReadU16(uint16_t* value) {
  uint16_t wire;
  if (!Read(&wire, sizeof wire)) return false;
  *value = ntohs(wire);
  return true;
}

bool SocketReader::ReadU32(uint32_t* value) {
  uint32_t wire;
  if (!Read(&wire, sizeof wire)) return false;
  *value = ntohl(wire);
  return true;
}

bool SocketReader::ReadCountedString(std::string* text) {
  uint16_t length;
  if (!ReadU16(&length)) return false;
  text->assign(length, '\0');
  return length == 0 || Read(&(*text)[0], length);
}

bool SocketWriter::SendAll(const char* data, size_t n) {
  while (n > 0) {
    ssize_t sent = send(socket_, data, n, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno == EWOULDBLOCK ? EAGAIN : errno;
      return false;
    }
    data += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool SocketWriter::Write(const void* data, size_t n) {
  if (lastError_ != 0) return false;
  const char* in = static_cast<const char*>(data);
  while (n > 0) {
    size_t take = sizeof buffer_ - used_ < n ? sizeof buffer_ - used_ : n;
    std::memcpy(buffer_ + used_, in, take);
    used_ += take;
    in += take;
    n -= take;
    if (used_ == sizeof buffer_ && !Flush()) return false;
  }
  return true;
}

bool SocketWriter::Flush() {
  if (lastError_ != 0) return false;
  bool ok = SendAll(buffer_, used_);
  used_ = 0;
  return ok;
}

bool SocketWriter::WriteStatus(uint16_t status) {
  uint16_t wire = htons(status);
  return Write(&wire, sizeof wire) && Flush();
}

bool SocketWriter::WriteCountedString(const std::string& text) {
  if (text.size() > protocol::kCountedStringMax) return false;
  uint16_t wire = htons(static_cast<uint16_t>(text.size()));
  return Write(&wire, sizeof wire) && Write(text.data(), text.size()) && Flush();
}

}  // namespace kavelo::service
