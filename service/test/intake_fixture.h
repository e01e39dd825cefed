// Shared helpers of the intake tests: the wire pieces and a raw loopback
// client that speaks bytes (the temporary folder, the event-log file and
// file reading come from testsupport/).
#ifndef KAVELO_SERVICE_TEST_INTAKE_FIXTURE_H_
#define KAVELO_SERVICE_TEST_INTAKE_FIXTURE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/event_log_capture.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::testsupport {

// Wire pieces.
std::string U16(uint16_t value);
std::string U32(uint32_t value);
std::string Counted(const std::string& text);      // 2-byte length + text
std::string CountedFile(const std::string& data);  // 4-byte length + data
std::string Magic();

// A blocking loopback client; every read waits at most its time-out.
class RawClient {
 public:
  RawClient() = default;
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Connects to 127.0.0.1; from (when given) is the loopback address the
  // connection comes from, such as 127.0.0.2.
  bool Connect(int port, int timeoutMs = 10000, const std::string& from = "");
  bool Send(const std::string& bytes);
  // Reads exactly n bytes; what arrived when it fails.
  std::string Read(size_t n);
  // Reads until the service closes (or the time-out): everything it sent.
  std::string ReadToEnd();
  void ShutdownWrite();
  void Close();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A loopback listening socket on an ephemeral port, for tests that need a
// connected pair: Accept gives the service side.
class LoopbackPair {
 public:
  LoopbackPair();
  ~LoopbackPair();
  // Connects client to the listener and returns the accepted socket.
  int Connect(RawClient* client);
  int listener() const { return listener_; }
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
};

}  // namespace kavelo::testsupport

#endif  // KAVELO_SERVICE_TEST_INTAKE_FIXTURE_H_
