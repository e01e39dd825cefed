// The counters the service keeps for its metrics, one set per process.  The
// intake adds to them where it already settles a job's result, the status
// side as it sees jobs end in the history, and serializes them.  Adding is lock free (atomic), so no code that
// counts waits for a scrape.
#ifndef KAVELO_SERVICE_SERVICE_COUNTERS_H_
#define KAVELO_SERVICE_SERVICE_COUNTERS_H_

#include <cstdint>
#include <memory>

namespace prometheus {
class Counter;
class Histogram;
class Registry;
}  // namespace prometheus

namespace kavelo::service {

enum class EndResult { kPrinted, kFailed, kCancelled };

// Seconds a job spent in each stage.
struct StageSeconds {
  double wait = 0, transform = 0, render = 0, spool = 0, total = 0;
};

enum class IntakeResult {
  kQueued,   // the client was told the job is queued
  kRefused,  // the service refused it: wrong magic or version, a job it cannot print
  kFailed,   // the exchange failed: the connection, a spool file, the queue
};

class ServiceCounters {
 public:
  ServiceCounters();
  ~ServiceCounters();
  ServiceCounters(const ServiceCounters&) = delete;
  ServiceCounters& operator=(const ServiceCounters&) = delete;

  void JobReceived(IntakeResult result);
  // Document bytes a connection has written to the spool folder.
  void IntakeBytes(uint64_t bytes);
  // A job ended; its stages count when it was started.
  void JobEnded(EndResult result, const StageSeconds* stages);

  // The registry that holds the counters, for the serializer.
  const std::shared_ptr<prometheus::Registry>& registry() const { return registry_; }

 private:
  std::shared_ptr<prometheus::Registry> registry_;
  prometheus::Counter* received_[3];
  prometheus::Counter* intakeBytes_;
  prometheus::Counter* ended_[3];
  prometheus::Histogram* stages_[5];
};

// The process's counters.
ServiceCounters& Counters();

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_SERVICE_COUNTERS_H_
