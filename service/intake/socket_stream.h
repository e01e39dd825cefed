// Buffered reading and writing over a connected socket, with the wire
// elements of the job intake protocol (big-endian integers, counted
// strings).
#ifndef KAVELO_SERVICE_SOCKET_STREAM_H_
#define KAVELO_SERVICE_SOCKET_STREAM_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kavelo::service {

constexpr size_t kStreamBufferSize = 4096;
// The slowest average rate, in bytes per second, at which a receive step
// (see SocketReader::BeginStep) may deliver its bytes after its first
// receive time-out: 128 kbit/s, far below any link a print server uses, so
// that only a client that holds a connection on purpose meets the limit.
constexpr int64_t kMinimumReceiveRate = 16 * 1024;
// The grace of a step when the socket has no receive time-out.
constexpr int64_t kDefaultStepGraceMs = 300000;

// Reads from a socket through a 4096-byte buffer.  A read of n bytes
// blocks until n bytes have arrived, the peer has closed its side, the
// socket's receive time-out has run out or the connection fails; anything
// short of n bytes is a failed read.  Does not own the socket.
class SocketReader {
 public:
  explicit SocketReader(int socket) : socket_(socket) {}
  SocketReader(const SocketReader&) = delete;
  SocketReader& operator=(const SocketReader&) = delete;

  // Starts a receive step (one wire element or one document) with an
  // overall limit: until the next BeginStep, the reads may take at most
  // the socket's receive time-out T (SO_RCVTIMEO as set when the reader
  // first begins a step; kDefaultStepGraceMs when it has none) plus the
  // time the step's bytes take at kMinimumReceiveRate.  A step of L bytes
  // therefore ends within T + L / kMinimumReceiveRate, and a client that
  // sends a byte now and then is cut off after about T however long the
  // element it declared, where the time-out of each read alone would
  // never end it.  Before BeginStep only each read's time-out applies.
  void BeginStep();

  bool Read(void* data, size_t n);
  // As Read, and tells how many bytes it placed in data (n on success,
  // fewer when it failed).
  bool Read(void* data, size_t n, size_t* delivered);
  bool ReadU16(uint16_t* value);
  bool ReadU32(uint32_t* value);
  // A 2-byte length N, then N bytes.
  bool ReadCountedString(std::string* text);

  // Why the last read failed: 0 for the peer's end of stream, EAGAIN for
  // the receive time-out, ETIMEDOUT for the step's overall limit, else the
  // errno of the failure.
  int lastError() const { return lastError_; }

 private:
  bool Fill();
  // Sets the socket's receive time-out to what the step has left; false
  // (lastError_ ETIMEDOUT) when nothing is left.
  bool Arm();
  void Received(ssize_t got);

  int socket_;
  char buffer_[kStreamBufferSize];
  size_t begin_ = 0;
  size_t end_ = 0;
  int lastError_ = 0;
  bool paced_ = false;
  int64_t readTimeoutMs_ = -1;  // the socket's own; -1 until first read
  int64_t armedMs_ = 0;         // the receive time-out the socket has now
  std::chrono::steady_clock::time_point stepStart_;
  int64_t stepBytes_ = 0;
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

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_SOCKET_STREAM_H_
