#include "service/test/intake_fixture.h"

#include <unistd.h>

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "protocol/intake_wire.h"

namespace kavelo::testsupport {

std::string U16(uint16_t value) { return protocol::EncodeU16(value); }

std::string U32(uint32_t value) { return protocol::EncodeU32(value); }

std::string Counted(const std::string& text) {
  return U16(static_cast<uint16_t>(text.size())) + text;
}

std::string CountedFile(const std::string& data) { return protocol::EncodeCountedFile(data); }

std::string Magic() { return U32(protocol::kIntakeMagic); }

RawClient::~RawClient() { Close(); }

bool RawClient::Connect(int port, int timeoutMs, const std::string& from) {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (!from.empty()) {
    inet_pton(AF_INET, from.c_str(), &address.sin_addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  }
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool RawClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

std::string RawClient::Read(size_t n) {
  std::string out;
  char buffer[4096];
  while (out.size() < n) {
    size_t want = std::min(sizeof buffer, n - out.size());
    ssize_t got = recv(fd_, buffer, want, 0);
    if (got <= 0) break;
    out.append(buffer, static_cast<size_t>(got));
  }
  return out;
}

std::string RawClient::ReadToEnd() {
  std::string out;
  char buffer[4096];
  for (;;) {
    ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    out.append(buffer, static_cast<size_t>(got));
  }
  return out;
}

void RawClient::ShutdownWrite() { shutdown(fd_, SHUT_WR); }

void RawClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

LoopbackPair::LoopbackPair() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener_, 16);
  socklen_t length = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

LoopbackPair::~LoopbackPair() { close(listener_); }

int LoopbackPair::Connect(RawClient* client) {
  if (!client->Connect(port_)) return -1;
  return accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
}

}  // namespace kavelo::testsupport
