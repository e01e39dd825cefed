// The queue's size by state and the age of its oldest queued job, counted
// by the history database itself: a scrape ten times a second costs the
// same with ten thousand queued jobs as with ten (reading their records
// would not).  Its own read-only connection.
#ifndef KAVELO_SERVICE_QUEUE_COUNTS_H_
#define KAVELO_SERVICE_QUEUE_COUNTS_H_

#include <cstdint>
#include <map>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace kavelo::service {

struct QueueCounts {
  std::map<std::string, int64_t> byState;  // "queued", "held", "printing"
  int64_t oldestQueuedMs = 0;               // its reception; 0 when none is queued
};

class QueueCounter {
 public:
  QueueCounter() = default;
  ~QueueCounter();
  QueueCounter(const QueueCounter&) = delete;
  QueueCounter& operator=(const QueueCounter&) = delete;

  // False when the history cannot be read (it is opened at the first call).
  bool Count(const std::string& historyPath, QueueCounts* counts);

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_QUEUE_COUNTS_H_
