#include "service/intake/connection_socket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "common/exceptions.h"

namespace kavelo::service {

namespace {

bool SetInt(int socket, int level, int option, int32_t value) {
  int v = value;
  return setsockopt(socket, level, option, &v, sizeof v) == 0;
}

bool SetTime(int socket, int option, int32_t milliseconds) {
  if (milliseconds < 0) throw IllegalArgumentException();
  timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return setsockopt(socket, SOL_SOCKET, option, &limit, sizeof limit) == 0;
}

}  // namespace

bool ConnectionSocket::SetDontLinger(int32_t value) {
  linger option{value == 0 ? 1 : 0, 0};
  return setsockopt(socket_, SOL_SOCKET, SO_LINGER, &option, sizeof option) == 0;
}

bool ConnectionSocket::SetNoDelay(int32_t value) {
  return SetInt(socket_, IPPROTO_TCP, TCP_NODELAY, value);
}

bool ConnectionSocket::SetKeepAlive(int32_t value) {
  return SetInt(socket_, SOL_SOCKET, SO_KEEPALIVE, value);
}

bool ConnectionSocket::SetReceiveTimeout(int32_t milliseconds) {
  return SetTime(socket_, SO_RCVTIMEO, milliseconds);
}

bool ConnectionSocket::SetSendTimeout(int32_t milliseconds) {
  return SetTime(socket_, SO_SNDTIMEO, milliseconds);
}

bool ConnectionSocket::SetSendBufferSize(int32_t bytes) {
  if (bytes < 0) throw IllegalArgumentException();
  return SetInt(socket_, SOL_SOCKET, SO_SNDBUF, bytes);
}

bool ConnectionSocket::SetReceiveBufferSize(int32_t bytes) {
  if (bytes < 0) throw IllegalArgumentException();
  return SetInt(socket_, SOL_SOCKET, SO_RCVBUF, bytes);
}

}  // namespace kavelo::service
