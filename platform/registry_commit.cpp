#include "platform/internal/registry_commit.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/internal/registry_store.h"

namespace kavelo::platform::registry_commit {
namespace {

using registry_store::AcquireHiveFile;
using registry_store::BeginWrite;
using registry_store::EndWrite;
using registry_store::HiveConnection;
using registry_store::Sql;
using registry_store::Statement;
using registry_store::StatusFromSqlite;
using registry_store::Step;

std::atomic<uint64_t> g_batches{0};

// A write waiting in a queue; it lives on its writer's stack.
struct Pending {
  const ValueWrite* write;
  long status = kErrorSuccess;
  bool done = false;
};

// The writes waiting for one hive file.  leading is set while a leader owns
// a batch taken from it; the lock is never held across SQLite calls.
struct Queue {
  std::mutex lock;
  std::condition_variable finished;
  std::vector<Pending*> waiting;
  bool leading = false;
};

// One queue per hive file path.  Queues are few (a process uses one or two
// hive files, tests a handful) and are kept for the life of the process;
// the map is never destroyed so that writes during exit stay safe.
Queue* QueueFor(const std::string& path) {
  static std::mutex lock;
  static auto* queues = new std::map<std::string, std::unique_ptr<Queue>>();
  std::lock_guard<std::mutex> guard(lock);
  std::unique_ptr<Queue>& queue = (*queues)[path];
  if (!queue) queue = std::make_unique<Queue>();
  return queue.get();
}

long RunStatement(HiveConnection* conn, Sql which) {
  Statement stmt(conn, which);
  if (!stmt.get()) return kErrorInvalidData;
  return StatusFromSqlite(Step(stmt.get()));
}

// Applies one write inside the open transaction.
long Apply(HiveConnection* conn, const ValueWrite& write) {
  const std::string& name = *write.name;
  if (write.erase) {
    Statement stmt(conn, Sql::kDeleteValue);
    if (!stmt.get()) return kErrorInvalidData;
    sqlite3_bind_int64(stmt.get(), 1, write.key);
    sqlite3_bind_text(stmt.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    long status = StatusFromSqlite(Step(stmt.get()));
    if (status == kErrorSuccess && sqlite3_changes(conn->db()) == 0) {
      status = MissingStatus(conn, write.key, kErrorFileNotFound);
    }
    return status;
  }
  long status = MissingStatus(conn, write.key, kErrorSuccess);
  if (status != kErrorSuccess) return status;
  Statement stmt(conn, Sql::kUpsertValue);
  if (!stmt.get()) return kErrorInvalidData;
  sqlite3_bind_int64(stmt.get(), 1, write.key);
  sqlite3_bind_text(stmt.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(stmt.get(), 3, write.type);
  // A zero-length blob still binds as a blob, never as NULL.
  static const uint8_t kEmpty = 0;
  sqlite3_bind_blob64(stmt.get(), 4, write.length ? write.data : &kEmpty, write.length,
                      SQLITE_STATIC);
  return StatusFromSqlite(Step(stmt.get()));
}

// Runs a batch in one transaction and sets every write's status.  A write
// counts as done only when the commit succeeded; when the transaction is
// lost (a failed commit, or an error that rolled it back), every write that
// had succeeded gets that failure, since none of it was stored.
void RunBatch(const std::string& path, const std::vector<Pending*>& batch) {
  HiveConnection* conn = nullptr;
  long status = AcquireHiveFile(path, true, &conn);
  if (status == kErrorSuccess) status = BeginWrite(conn);
  if (status != kErrorSuccess) {
    for (Pending* pending : batch) pending->status = status;
    return;
  }
  long lost = kErrorSuccess;
  for (Pending* pending : batch) {
    long own = RunStatement(conn, Sql::kSavepoint);
    if (own == kErrorSuccess) {
      own = Apply(conn, *pending->write);
      if (own == kErrorSuccess) {
        own = RunStatement(conn, Sql::kReleaseSavepoint);
      } else if (!sqlite3_get_autocommit(conn->db())) {
        // Undo this write only; the others stay in the transaction.
        long undone = RunStatement(conn, Sql::kRollbackToSavepoint);
        if (undone == kErrorSuccess) undone = RunStatement(conn, Sql::kReleaseSavepoint);
        if (undone != kErrorSuccess) lost = undone;
      }
    }
    pending->status = own;
    if (sqlite3_get_autocommit(conn->db())) lost = own != kErrorSuccess ? own : kErrorCantWrite;
    if (lost != kErrorSuccess) break;
  }
  status = EndWrite(conn, lost);
  if (status == kErrorSuccess) return;
  // Writes after the point of loss never ran; those before it are gone.
  for (Pending* pending : batch) {
    if (pending->status == kErrorSuccess) pending->status = status;
  }
}

}  // namespace

long Commit(Hive hive, const ValueWrite& write) {
  std::string path;
  Queue* queue = nullptr;
  try {
    path = registry_store::HiveFilePath(hive);
    queue = QueueFor(path);
  } catch (const std::bad_alloc&) {
    return kErrorNotEnoughMemory;
  }
  Pending self{&write};
  std::vector<Pending*> batch;
  {
    std::unique_lock<std::mutex> guard(queue->lock);
    try {
      queue->waiting.push_back(&self);
    } catch (const std::bad_alloc&) {
      return kErrorNotEnoughMemory;
    }
    queue->finished.wait(guard, [&] { return self.done || !queue->leading; });
    if (self.done) return self.status;
    // No commit is under way: this writer leads the next one, taking every
    // write queued so far (its own among them).
    queue->leading = true;
    batch.swap(queue->waiting);
  }
  g_batches.fetch_add(1, std::memory_order_relaxed);
  try {
    RunBatch(path, batch);
  } catch (const std::bad_alloc&) {
    for (Pending* pending : batch) pending->status = kErrorNotEnoughMemory;
  }
  {
    std::lock_guard<std::mutex> guard(queue->lock);
    for (Pending* pending : batch) pending->done = true;
    queue->leading = false;
  }
  // Wakes the followers of this batch and the writers that queued meanwhile,
  // one of whom leads the next batch.
  queue->finished.notify_all();
  return self.status;
}

uint64_t BatchesRun() { return g_batches.load(std::memory_order_relaxed); }

}  // namespace kavelo::platform::registry_commit
