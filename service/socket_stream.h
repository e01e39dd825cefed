// Buffered reading and writing over a connected socket, with the wire
// elements of the job intake protocol (big-endian integers, counted
// strings).
#ifndef KAVELO_SERVICE_SOCKET_STREAM_H_
#define KAVELO_SERVICE_SOCKET_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavelo {

constexpr size_t kStreamBufferSize = 4096;

// Reads from a socket through a 4096-byte buffer.  A read of n bytes
// blocks until n bytes have arrived, the peer has closed its side, the
// socket's receive time-out has run out or the connection fails; anything
// short of n bytes is a failed read.  Does not own the socket.
class SocketReader {
 public:
  explicit SocketReader(int socket) : socket_(socket) {}
  SocketReader(const SocketReader&) = delete;
  SocketReader& operator=(const SocketReader&) = delete;

  bool Read(void* data, size_t n);
  // As Read, and tells how many bytes it placed in data (n on success,
  // fewer when it failed).
  bool Read(void* data, size_t n, size_t* delivered);
  bool ReadU16(uint16_t* value);
  bool ReadU32(uint32_t* value);
  // A 2-byte length N, then N bytes.
  bool ReadCountedString(std::string* text);

  // Why the last read failed: 0 for the peer's end of stream, EAGAIN for
  // the receive time-out, else the errno of the failure.
  int lastError() const { return lastError_; }

 private:
  bool Fill();

  int socket_;
  char buffer_[kStreamBufferSize];
  size_t begin_ = 0;
  size_t end_ = 0;
  int lastError_ = 0;
};

// Writes to a socket through a 4096-byte buffer; sends never raise SIGPIPE.
// Does not own the socket.
class SocketWriter {
 public:
  explicit SocketWriter(int socket) : socket_(socket) {}
  SocketWriter(const SocketWriter&) = delete;
  SocketWriter& operator=(const SocketWriter&) = delete;

  // Buffers data, sending whenever the buffer fills.  False once a send
  // has failed.
  bool Write(const void* data, size_t n);
  bool Flush();
  // A status word, written and flushed at once.
  bool WriteStatus(uint16_t status);
  // A 2-byte length, the text, then a flush.  Texts over 65535 bytes are
  // refused.
  bool WriteCountedString(const std::string& text);

  int lastError() const { return lastError_; }

 private:
  bool SendAll(const char* data, size_t n);

  int socket_;
  char buffer_[kStreamBufferSize];
  size_t used_ = 0;
  int lastError_ = 0;
};

}  // namespace kavelo

#endif  // KAVELO_SERVICE_SOCKET_STREAM_H_
