// Group commit for value writes: concurrent writes in this process to one
// hive file share one transaction and one durable commit.
//
// The first writer to find no commit under way becomes the leader: it takes
// every write queued for the file, runs them in one BEGIN IMMEDIATE ...
// COMMIT on its own connection (each write inside its own savepoint, so one
// failing write gets its own status and leaves the others in place), and
// then hands each waiting writer its status.  Waiting writers sleep on a
// condition variable and never touch SQLite; a writer returns only after the
// commit that holds its write has returned.  Other processes and the other
// registry writes still meet these writes at the SQLite write lock.
#ifndef KAVELO_PLATFORM_INTERNAL_REGISTRY_COMMIT_H_
#define KAVELO_PLATFORM_INTERNAL_REGISTRY_COMMIT_H_

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace kavelo::platform::registry_commit {

// One value write.  The caller keeps the name and data alive until Commit
// returns.
struct ValueWrite {
  int64_t key = 0;  // the key's id
  const std::string* name = nullptr;
  bool erase = false;  // delete the value instead of setting it
  uint32_t type = 0;
  const void* data = nullptr;
  uint32_t length = 0;
};

// Runs the write as part of the next group commit of the hive's file and
// returns its status once the commit is durable (or has failed).
long Commit(Hive hive, const ValueWrite& write);

// How many group commits (batches) this process has run so far.
uint64_t BatchesRun();

}  // namespace kavelo::platform::registry_commit

#endif  // KAVELO_PLATFORM_INTERNAL_REGISTRY_COMMIT_H_
