// A cpp-httplib server whose every connection is bounded: a fixed number of
// worker threads and of waiting connections, one request per connection,
// a limit on the bytes and the time of each request and response, and a
// stop that ends every connection within a tenth of a second whatever its
// client does.  cpp-httplib parses and answers the requests; this class
// only gives it a socket stream with these limits.
#ifndef KAVELO_SERVICE_BOUNDED_HTTP_SERVER_H_
#define KAVELO_SERVICE_BOUNDED_HTTP_SERVER_H_

#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

namespace kavelo::service {

struct HttpLimits {
  int workers = 4;                  // requests answered at once
  int pending = 16;                 // accepted connections waiting for a worker
  size_t requestBytes = 16 << 10;   // request line, headers and body of one connection
  int requestMs = 5000;             // the whole request must arrive within this
  int responseMs = 5000;            // the whole response must leave within this
};

class BoundedHttpServer : public httplib::Server {
 public:
  explicit BoundedHttpServer(HttpLimits limits = HttpLimits());
  // Closes the server.
  ~BoundedHttpServer() override;

  // Binds the listening socket; returns the port (the system's choice for
  // port 0), or 0 when it cannot bind.
  int Open(const std::string& address, int port);
  // Starts the accept thread.  Call once, after Open succeeded.
  void Start();
  // Ends the accept thread and every connection; when it returns no thread
  // of the server runs.  Idempotent.
  void Close();

 private:
  class Queue;
  class Connection;
  bool process_and_close_socket(int sock) override;
  void AcceptLoop();

  const HttpLimits limits_;
  std::string address_;
  int port_ = 0;
  std::atomic<bool> closing_{false};
  std::atomic<bool> acceptEnded_{false};
  std::thread thread_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_BOUNDED_HTTP_SERVER_H_
