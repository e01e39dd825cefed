// The service's read-only HTTP side: /health for a supervisor, /metrics for
// a monitoring system.  Its own threads and bounds (BoundedHttpServer), so
// that nothing a client of it does delays the intake or the print thread;
// no action is reachable through it.
#ifndef KAVELO_SERVICE_STATUS_SERVER_H_
#define KAVELO_SERVICE_STATUS_SERVER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "service/status/bounded_http_server.h"
#include "service/status/status_settings.h"

namespace kavelo::service {

class EventLogChannel;

// What the status side asks the rest of the service, each from any thread.
struct StatusProbes {
  std::function<bool()> intakeListening;
  std::function<bool()> printThreadAlive;
  std::function<int64_t()> openConnections;  // intake connections not yet ended
  std::function<int64_t()> waitingJobs;      // jobs in the print queue, the printing one too
  std::string spoolDirectory;
  std::string version;
};

struct HttpAnswer {
  int status = 200;
  std::string contentType;
  std::string body;
};

class StatusServer {
 public:
  StatusServer();
  ~StatusServer();
  StatusServer(const StatusServer&) = delete;
  StatusServer& operator=(const StatusServer&) = delete;

  // Listens on the settings' address and port (the system's choice for a
  // port of 0 when anyPort) and answers from the probes.  A port of 0
  // without anyPort leaves the HTTP side off.  Returns false, after
  // reporting it, when it cannot listen; the service goes on without it.
  bool Start(EventLogChannel* channel, const StatusSettings& settings, StatusProbes probes,
             bool anyPort = false);
  // Ends the listener and every connection; returns within a fraction of a
  // second.  Idempotent.
  void Stop();
  // The port it listens on; 0 when it does not.
  int port() const { return port_; }

  // The answers, also for benchmarks and tests.
  HttpAnswer Health() const;
  HttpAnswer Metrics() const;

 private:
  StatusProbes probes_;
  std::string renderSocket_;  // the account's warm renderer, counted as a worker
  std::unique_ptr<BoundedHttpServer> server_;
  int port_ = 0;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_STATUS_SERVER_H_
