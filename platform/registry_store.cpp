#include "platform/internal/registry_store.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/stat.h>

#include "platform/shared_file.h"

namespace kavelo::platform::registry_store {
namespace {

// How long a writer waits for another writer's transaction to end.
constexpr int kBusyTimeoutMs = 30000;
// Cached connections beyond this number are dropped when their file is gone.
constexpr size_t kCacheTidyThreshold = 8;

const char* const kStatementText[] = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SAVEPOINT one_write",
    "RELEASE one_write",
    "ROLLBACK TO one_write",
    "SELECT id FROM keys WHERE parent = ?1 AND name = ?2",
    "INSERT INTO keys(parent, name) VALUES(?1, ?2)",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2",
    "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
    "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND name = ?2",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
    "DELETE FROM vals WHERE key IN tree",
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
    "DELETE FROM keys WHERE id IN tree",
};
static_assert(sizeof(kStatementText) / sizeof(kStatementText[0]) ==
                  static_cast<size_t>(Sql::kCount),
              "one text per statement");

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "CREATE INDEX IF NOT EXISTS keys_order ON keys(parent, id);"
    "CREATE TABLE IF NOT EXISTS vals("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, name));"
    "CREATE INDEX IF NOT EXISTS vals_order ON vals(key, id);"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES(1, 0, '');";

// Idle connections kept beyond this number are closed, oldest first.
constexpr size_t kIdleLimit = 32;

std::atomic<uint64_t> g_connectionsOpened{0};

struct CacheEntry {
  std::string path;
  std::unique_ptr<HiveConnection> conn;
};

// Connections of threads that have ended, kept open for the next thread
// that needs the same file.  Opening a connection reads the schema and
// prepares its statements anew, which costs more than a small write, and
// the service runs each client connection on a thread of its own.  A
// connection moves from one thread to the next only through this pool, so
// it is never used by two threads at once.
class IdleConnections {
 public:
  std::unique_ptr<HiveConnection> Take(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t i = idle_.size(); i-- > 0;) {
      if (idle_[i].path != path || !idle_[i].conn->OwnedHere()) continue;
      std::unique_ptr<HiveConnection> conn = std::move(idle_[i].conn);
      idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(i));
      return conn;
    }
    return nullptr;
  }

  // Keeps a connection that is at rest (no transaction open); otherwise, or
  // when the pool is full or closed, the connection is closed as it goes.
  void Give(CacheEntry entry) {
    if (!entry.conn || !entry.conn->OwnedHere() || !sqlite3_get_autocommit(entry.conn->db())) {
      return;
    }
    std::unique_ptr<HiveConnection> evicted;  // closed after the lock is let go
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_) return;
    if (idle_.size() >= kIdleLimit) {
      // The oldest goes: in a long run the files in use are few, and a
      // file no longer in use is never asked for again.
      evicted = std::move(idle_.front().conn);
      idle_.erase(idle_.begin());
    }
    idle_.push_back(std::move(entry));
  }

  // At exit: closes the idle connections (the last one to close folds the
  // log back into the file) and keeps no more.
  void CloseAll() {
    std::vector<CacheEntry> closing;
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    closing.swap(idle_);
  }

 private:
  std::mutex lock_;
  std::vector<CacheEntry> idle_;
  bool closed_ = false;
};

// Never destroyed, so that threads ending during exit can still give back.
IdleConnections& Idle() {
  static auto* idle = new IdleConnections();
  return *idle;
}

struct CloseIdleAtExit {
  ~CloseIdleAtExit() { Idle().CloseAll(); }
} g_closeIdleAtExit;

// Each thread keeps its own connections, so readers never wait for each
// other and a connection is never shared between threads; when the thread
// ends they go to the idle pool.
struct ThreadCache {
  ~ThreadCache() {
    for (CacheEntry& entry : entries) Idle().Give(std::move(entry));
  }
  std::vector<CacheEntry> entries;
};
thread_local ThreadCache t_cache;

std::string LookUpUserName(uid_t uid) {
  std::vector<char> buffer(16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
      *found->pw_name) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

// The effective user's name, looked up once per user id (the lookup reads
// the user database).
std::string EffectiveUserName() {
  static std::mutex lock;
  static uid_t cachedUid = static_cast<uid_t>(-1);
  static std::string cachedName;
  uid_t uid = geteuid();
  std::lock_guard<std::mutex> guard(lock);
  if (uid != cachedUid || cachedName.empty()) {
    cachedName = LookUpUserName(uid);
    cachedUid = uid;
  }
  return cachedName;
}

bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long Exec(sqlite3* db, const char* sql) {
  return StatusFromSqlite(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

bool TablesExist(sqlite3* db, long* status) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(
      db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('keys', 'vals')",
      -1, &stmt, nullptr);
  bool exist = false;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
      exist = sqlite3_column_int(stmt, 0) == 2;
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(stmt);
  *status = StatusFromSqlite(rc);
  return exist;
}

// Opens a connection to an existing or (forWrite) new file and sets it up.
long OpenConnection(const std::string& path, bool forWrite, std::unique_ptr<HiveConnection>* out) {
  sqlite3* db = nullptr;
  if (forWrite) {
    // A new hive is made here, shared with the group (SQLite gives its -wal
    // and -shm files the hive's mode); an empty file is a new database.  A
    // failure shows at the open below.  An existing hive is never opened
    // outside SQLite: closing that descriptor would drop the locks of this
    // process's other connections, and the next program to close the hive
    // would delete its log under them.
    CreateSharedFile(path.c_str());
  }
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (forWrite ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK && !forWrite) {
    // A hive the user may only read.
    sqlite3_close_v2(db);
    db = nullptr;
    rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  }
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return rc == SQLITE_CANTOPEN || rc == SQLITE_PERM || rc == SQLITE_READONLY
               ? kErrorAccessDenied
               : StatusFromSqlite(rc);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 0);
  long status = kErrorSuccess;
  // journal_mode is stored in the file; setting it is a no-op when it holds.
  // It is the first statement that reads the file, so a file that is not a
  // database fails here, before anything could be written to it.
  // Switching a new file to WAL needs its exclusive lock, and SQLite does
  // not always call the busy handler for it: when several processes open a
  // new hive at once the loser gets SQLITE_BUSY at once, so it tries again
  // within the busy time-out.
  for (int waitedMs = 0;; waitedMs += 10) {
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode = WAL", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || waitedMs >= kBusyTimeoutMs) break;
    usleep(10000);
  }
  if (rc == SQLITE_READONLY && !forWrite) rc = SQLITE_OK;
  status = StatusFromSqlite(rc);
  if (status == kErrorSuccess) status = Exec(db, "PRAGMA synchronous = FULL");
  if (status != kErrorSuccess) {
    sqlite3_close_v2(db);
    return status;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    sqlite3_close_v2(db);
    return forWrite ? kErrorAccessDenied : kErrorFileNotFound;
  }
  auto conn = std::make_unique<HiveConnection>(db, st.st_dev, st.st_ino);
  conn->set_has_schema(TablesExist(db, &status));
  if (status != kErrorSuccess) return status;
  *out = std::move(conn);
  return kErrorSuccess;
}

long CreateSchema(HiveConnection* conn) {
  long status = BeginWrite(conn);
  if (status != kErrorSuccess) return status;
  status = Exec(conn->db(), kSchema);
  status = EndWrite(conn, status);
  if (status == kErrorSuccess) conn->set_has_schema(true);
  return status;
}

void TidyCache() {
  std::vector<CacheEntry>& entries = t_cache.entries;
  if (entries.size() < kCacheTidyThreshold) return;
  for (auto it = entries.begin(); it != entries.end();) {
    struct stat st;
    if (!it->conn || stat(it->path.c_str(), &st) != 0 ||
        !it->conn->SameFile(st.st_dev, st.st_ino)) {
      it = entries.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

HiveConnection::HiveConnection(sqlite3* db, dev_t dev, ino_t ino)
    : db_(db), dev_(dev), ino_(ino), owner_(getpid()) {}

bool HiveConnection::OwnedHere() const { return owner_ == getpid(); }

HiveConnection::~HiveConnection() {
  // SQLite forbids using a connection in a forked child, closing included.
  if (owner_ != getpid()) return;
  for (sqlite3_stmt* stmt : statements_) sqlite3_finalize(stmt);
  sqlite3_close_v2(db_);
}

sqlite3_stmt* HiveConnection::Get(Sql which) {
  sqlite3_stmt*& stmt = statements_[static_cast<int>(which)];
  if (!stmt) {
    if (sqlite3_prepare_v3(db_, kStatementText[static_cast<int>(which)], -1,
                           SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      stmt = nullptr;
      return nullptr;
    }
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return stmt;
}

long MissingStatus(HiveConnection* conn, int64_t id, long notFound) {
  Statement stmt(conn, Sql::kKeyExists);
  if (!stmt.get()) return kErrorInvalidData;
  sqlite3_bind_int64(stmt.get(), 1, id);
  int rc = Step(stmt.get());
  if (rc == SQLITE_ROW) return notFound;
  if (rc == SQLITE_DONE) return kErrorKeyDeleted;
  return StatusFromSqlite(rc);
}

std::string HiveFilePath(Hive hive) {
  std::string dir = RegistryDirectory();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (hive == Hive::kLocalMachine) return dir + "/HKEY_LOCAL_MACHINE.db";
  return dir + "/HKEY_CURRENT_USER." + EffectiveUserName() + ".db";
}

long AcquireHive(Hive hive, bool forWrite, HiveConnection** conn) {
  return AcquireHiveFile(HiveFilePath(hive), forWrite, conn);
}

long AcquireHiveFile(const std::string& path, bool forWrite, HiveConnection** conn) {
  *conn = nullptr;
  TidyCache();
  CacheEntry* entry = nullptr;
  for (auto& cached : t_cache.entries) {
    if (cached.path == path) entry = &cached;
  }

  struct stat st;
  bool exists = stat(path.c_str(), &st) == 0;
  if (entry && entry->conn && !(exists && entry->conn->SameFile(st.st_dev, st.st_ino))) {
    // The file was deleted or replaced since this thread last used it.
    // (SQLite will not checkpoint into or delete the logs of a file that
    // was unlinked, so the new file's "-wal" and "-shm" are safe.)
    entry->conn.reset();
  }
  if (!exists && !forWrite) return kErrorSuccess;  // an empty hive
  if (exists && !S_ISREG(st.st_mode)) return kErrorInvalidData;
  if (!exists) {
    std::string dir = path.substr(0, path.rfind('/'));
    if (!MakeFolders(dir)) return kErrorAccessDenied;
  }

  if (!entry || !entry->conn) {
    std::unique_ptr<HiveConnection> opened = Idle().Take(path);
    if (opened && !(exists && opened->SameFile(st.st_dev, st.st_ino))) opened.reset();
    if (!opened) {
      long status = OpenConnection(path, forWrite, &opened);
      if (status != kErrorSuccess) return status;
      g_connectionsOpened.fetch_add(1, std::memory_order_relaxed);
    }
    if (!entry) {
      t_cache.entries.push_back(CacheEntry{path, nullptr});
      entry = &t_cache.entries.back();
    }
    entry->conn = std::move(opened);
  }

  HiveConnection* c = entry->conn.get();
  if (!c->has_schema()) {
    long status = kErrorSuccess;
    c->set_has_schema(TablesExist(c->db(), &status));
    if (status != kErrorSuccess) return status;
  }
  if (!c->has_schema()) {
    if (!forWrite) return kErrorSuccess;  // a database without tables is an empty hive
    long status = CreateSchema(c);
    if (status != kErrorSuccess) return status;
  }
  *conn = c;
  return kErrorSuccess;
}

uint64_t ConnectionsOpened() { return g_connectionsOpened.load(std::memory_order_relaxed); }

long StatusFromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kErrorSuccess;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_MISMATCH:
      return kErrorInvalidData;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return kErrorAccessDenied;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kErrorBusy;
    case SQLITE_NOMEM:
      return kErrorNotEnoughMemory;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
      return kErrorInvalidParameter;
    case SQLITE_ERROR:
      // "no such table" and its like: the file is a database, not a hive.
      return kErrorInvalidData;
    default:  // SQLITE_IOERR, SQLITE_FULL, SQLITE_PROTOCOL, ...
      return kErrorCantWrite;
  }
}

int Step(sqlite3_stmt* stmt) { return sqlite3_step(stmt); }

long BeginWrite(HiveConnection* conn) {
  Statement begin(conn, Sql::kBeginImmediate);
  if (!begin.get()) return kErrorInvalidData;
  return StatusFromSqlite(Step(begin.get()));
}

long EndWrite(HiveConnection* conn, long status) {
  if (status == kErrorSuccess) {
    Statement commit(conn, Sql::kCommit);
    status = commit.get() ? StatusFromSqlite(Step(commit.get())) : kErrorInvalidData;
    if (status == kErrorSuccess) return status;
  }
  // A failed statement or commit leaves nothing of the transaction behind.
  if (!sqlite3_get_autocommit(conn->db())) {
    Statement rollback(conn, Sql::kRollback);
    if (rollback.get()) Step(rollback.get());
  }
  return status;
}

}  // namespace kavelo::platform::registry_store

namespace kavelo::platform {

// The store decides where the hive files live; registry.h publishes it.
std::string RegistryDirectory() {
  const char* dir = std::getenv("KAVELO_REGISTRY_DIR");
  return dir && *dir ? dir : "/var/lib/kavelo/registry";
}

}  // namespace kavelo::platform
