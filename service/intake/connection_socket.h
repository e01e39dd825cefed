// The socket of an accepted connection and its options.
#ifndef KAVELO_SERVICE_CONNECTION_SOCKET_H_
#define KAVELO_SERVICE_CONNECTION_SOCKET_H_

#include <cstdint>

namespace kavelo::service {

// Each setter sets one socket option and returns whether the system took
// it.  Does not own the socket.
class ConnectionSocket {
 public:
  explicit ConnectionSocket(int socket) : socket_(socket) {}

  // Lingering off (1): a close returns at once and what is still buffered
  // is sent in the background.  0 turns lingering on with a zero time.
  bool SetDontLinger(int32_t value);
  bool SetNoDelay(int32_t value);
  bool SetKeepAlive(int32_t value);
  // Milliseconds; 0 means no limit.  Negative: IllegalArgumentException.
  bool SetReceiveTimeout(int32_t milliseconds);
  // Negative: IllegalArgumentException.
  bool SetSendBufferSize(int32_t bytes);
  bool SetReceiveBufferSize(int32_t bytes);
  // Milliseconds a send may block; 0 means no limit.  Negative:
  // IllegalArgumentException.
  bool SetSendTimeout(int32_t milliseconds);

  int socket() const { return socket_; }

 private:
  int socket_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_CONNECTION_SOCKET_H_
