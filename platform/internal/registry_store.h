// The SQLite side of the registry: one database file per hive, one cached
// connection per thread and hive file, the statements the registry runs and
// the translation of SQLite results into Windows status codes.
//
// Layout of a hive file:
//   keys(id, parent, name)            the root key has id 1, parent 0, name ""
//   vals(id, key, name, type, data)   data is the exact bytes
// Names compare without regard to ASCII letter case (COLLATE NOCASE) and keep
// their spelling; ids grow (AUTOINCREMENT), so creation order is id order and
// a deleted key's id is never given to a new key.
#ifndef KAVELO_PLATFORM_INTERNAL_REGISTRY_STORE_H_
#define KAVELO_PLATFORM_INTERNAL_REGISTRY_STORE_H_

#include <cstdint>
#include <string>

#include <sqlite3.h>
#include <sys/types.h>

#include "platform/registry.h"

namespace kavelo::platform::registry_store {

constexpr int64_t kRootKeyId = 1;

// The statements a connection keeps prepared.
enum class Sql {
  kBeginImmediate,
  kCommit,
  kRollback,
  kSavepoint,  // one write of a group commit
  kReleaseSavepoint,
  kRollbackToSavepoint,
  kFindChild,       // (parent, name) -> id
  kInsertKey,       // (parent, name)
  kKeyExists,       // (id) -> 1
  kEnumValue,       // (key, offset) -> name, type, data
  kAllValues,       // (key) -> name, type, data ...
  kQueryValue,      // (key, name) -> type, data
  kUpsertValue,     // (key, name, type, data)
  kDeleteValue,     // (key, name)
  kEnumKey,         // (parent, offset) -> name
  kDeleteTreeVals,  // (id)
  kDeleteTreeKeys,  // (id)
  kCount
};

// One thread's connection to one hive file.  Not thread safe: it lives in a
// thread-local cache and is used only by its thread.
class HiveConnection {
 public:
  HiveConnection(sqlite3* db, dev_t dev, ino_t ino);
  ~HiveConnection();
  HiveConnection(const HiveConnection&) = delete;
  HiveConnection& operator=(const HiveConnection&) = delete;

  sqlite3* db() const { return db_; }
  // The prepared statement, reset and with its bindings cleared; null when
  // it cannot be prepared (the hive has no tables yet).
  sqlite3_stmt* Get(Sql which);

  bool SameFile(dev_t dev, ino_t ino) const { return dev == dev_ && ino == ino_; }
  // False in a child that inherited the connection through fork.
  bool OwnedHere() const;
  bool has_schema() const { return has_schema_; }
  void set_has_schema(bool value) { has_schema_ = value; }

 private:
  sqlite3* db_;
  dev_t dev_;
  ino_t ino_;
  pid_t owner_;  // a connection inherited through fork is never closed
  bool has_schema_ = false;
  sqlite3_stmt* statements_[static_cast<int>(Sql::kCount)] = {};
};

// Full path of the hive's database file.
std::string HiveFilePath(Hive hive);

// This thread's connection to the hive.  For a read (forWrite false) of a
// hive whose file does not exist, or exists without tables, *conn is null
// and the result is success: the hive is empty.  For a write the folder and
// the file are created when missing and the tables exist on return.
long AcquireHive(Hive hive, bool forWrite, HiveConnection** conn);
// The same for a hive file named by its full path.
long AcquireHiveFile(const std::string& path, bool forWrite, HiveConnection** conn);

// How many connections this process has opened so far (a connection of a
// thread that ended is handed to the next thread, not opened anew).
uint64_t ConnectionsOpened();

// A cached statement for one use: reset (its read ended) when it goes.
class Statement {
 public:
  Statement(HiveConnection* conn, Sql which) : stmt_(conn->Get(which)) {}
  ~Statement() {
    if (stmt_) sqlite3_reset(stmt_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
};

// The status code for a SQLite result code.
long StatusFromSqlite(int rc);

// Runs a prepared statement to completion or to its first row.  Returns the
// SQLite code (SQLITE_ROW, SQLITE_DONE or an error).
int Step(sqlite3_stmt* stmt);

// The status of an operation on key id whose rows were not found: notFound
// while the key exists, kErrorKeyDeleted once it has been deleted since it
// was opened.
long MissingStatus(HiveConnection* conn, int64_t id, long notFound);

// Begins, and afterwards commits or rolls back, a write transaction.
long BeginWrite(HiveConnection* conn);
long EndWrite(HiveConnection* conn, long status);

}  // namespace kavelo::platform::registry_store

#endif  // KAVELO_PLATFORM_INTERNAL_REGISTRY_STORE_H_
