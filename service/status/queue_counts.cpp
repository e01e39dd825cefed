#include "service/status/queue_counts.h"

#include <sqlite3.h>

namespace kavelo::service {

QueueCounter::~QueueCounter() {
  sqlite3_finalize(statement_);
  sqlite3_close_v2(db_);
}

bool QueueCounter::Count(const std::string& historyPath, QueueCounts* counts) {
  if (statement_ == nullptr) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (sqlite3_open_v2(historyPath.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_busy_timeout(db_, 1000) != SQLITE_OK ||
        sqlite3_prepare_v2(db_,
                           "SELECT state, COUNT(*), MIN(received_ms) FROM jobs WHERE ended_ms=0"
                           " GROUP BY state",
                           -1, &statement_, nullptr) != SQLITE_OK) {
      sqlite3_finalize(statement_);
      statement_ = nullptr;
      return false;
    }
  }
  int rc;
  while ((rc = sqlite3_step(statement_)) == SQLITE_ROW) {
    const char* state = reinterpret_cast<const char*>(sqlite3_column_text(statement_, 0));
    counts->byState[state != nullptr ? state : ""] = sqlite3_column_int64(statement_, 1);
    if (state != nullptr && std::string(state) == "queued") {
      counts->oldestQueuedMs = sqlite3_column_int64(statement_, 2);
    }
  }
  sqlite3_reset(statement_);
  return rc == SQLITE_DONE;
}

}  // namespace kavelo::service
