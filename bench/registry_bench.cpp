// Registry throughput: durable value writes and value reads per second, one
// thread and eight, against baselines measured in the same run:
//   writes: a 4 KiB write + fdatasync to a plain file (the floor of any
//           durable write on this disk), and a raw SQLite transaction and
//           commit per write (the registry's writes before group commit);
//   reads:  a raw prepared SQLite point query, with each thread on its own
//           connection and with all threads sharing one connection behind a
//           mutex (the two ways the registry could hold its connections).
// Each benchmark runs three times; the figures reported are the median.
//   build/bin/registry_bench [--benchmark_filter=...]
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "common/registry_access.h"
#include "platform/registry.h"
#include "testsupport/temp_registry.h"

namespace {

using kavelo::platform::Hive;
using kavelo::platform::RegKey;

std::string g_dir;
constexpr int kNames = 64;

std::string NameOf(int i) { return "Value" + std::to_string(i % kNames); }

void BM_RegistryDurableWrite(benchmark::State& state) {
  RegKey key;
  std::string path = "Bench\\Write" + std::to_string(state.thread_index());
  kavelo::platform::RegCreateKey(Hive::kLocalMachine, path, kavelo::platform::KEY_ALL_ACCESS, &key);
  const std::string data = "/opt/kavelo/PrintService/Ostrevo";
  int i = 0;
  for (auto _ : state) {
    long status = kavelo::platform::RegSetValue(key, NameOf(i++), kavelo::platform::REG_SZ,
                                                data.c_str(), data.size() + 1);
    if (status != 0) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_BaselineFileFdatasync(benchmark::State& state) {
  std::string path = g_dir + "/fsync." + std::to_string(state.thread_index());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  char block[4096] = {};
  for (auto _ : state) {
    if (pwrite(fd, block, sizeof(block), 0) != static_cast<ssize_t>(sizeof(block)) ||
        fdatasync(fd) != 0) {
      state.SkipWithError("fdatasync failed");
    }
  }
  close(fd);
  state.SetItemsProcessed(state.iterations());
}

void BM_RegistryRead(benchmark::State& state) {
  RegKey key;
  kavelo::platform::RegOpenKey(Hive::kLocalMachine, "Bench\\Read", kavelo::platform::KEY_READ,
                               &key);
  std::vector<uint8_t> data;
  uint32_t type = 0;
  int i = state.thread_index();
  for (auto _ : state) {
    if (kavelo::platform::RegQueryValue(key, NameOf(i++), &type, &data) != 0) {
      state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(data.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// How the service reads a parameter: enumerate the key, match name and type.
void BM_RegistryAccessReadDword(benchmark::State& state) {
  kavelo::RegistryAccess access(Hive::kLocalMachine, "Bench");
  for (auto _ : state) benchmark::DoNotOptimize(access.ReadDword("Params", "RecvBuffer", 0));
  state.SetItemsProcessed(state.iterations());
}

sqlite3* OpenRaw() {
  sqlite3* db = nullptr;
  sqlite3_open_v2((g_dir + "/HKEY_LOCAL_MACHINE.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_busy_timeout(db, 30000);
  return db;
}

// One transaction and one commit per write, each thread on its own
// connection: how the registry wrote before writes were grouped.
void BM_BaselineRawCommitPerWrite(benchmark::State& state) {
  sqlite3* db = OpenRaw();
  sqlite3_exec(db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, 1, ?3) "
                     "ON CONFLICT(key, name) DO UPDATE SET data = excluded.data",
                     -1, &stmt, nullptr);
  const std::string data = "/opt/kavelo/PrintService/Ostrevo";
  int i = 0;
  for (auto _ : state) {
    bool ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_bind_int64(stmt, 1, -1 - state.thread_index());  // a key of its own
    sqlite3_bind_text(stmt, 2, NameOf(i++).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(stmt, 3, data.c_str(), static_cast<int>(data.size() + 1), SQLITE_STATIC);
    ok = ok && sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_reset(stmt);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      state.SkipWithError("raw write failed");
      break;
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

const char kRawQuery[] =
    "SELECT v.type, v.data FROM vals v JOIN keys k ON v.key = k.id "
    "WHERE k.name = 'Read' AND v.name = ?1";

void RawQuery(sqlite3_stmt* stmt, const std::string& name, benchmark::State& state) {
  sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(stmt) != SQLITE_ROW) state.SkipWithError("raw read failed");
  benchmark::DoNotOptimize(sqlite3_column_blob(stmt, 1));
  sqlite3_reset(stmt);
}

void BM_BaselineRawReadOwnConnection(benchmark::State& state) {
  sqlite3* db = OpenRaw();
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, kRawQuery, -1, &stmt, nullptr);
  int i = state.thread_index();
  for (auto _ : state) RawQuery(stmt, NameOf(i++), state);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

std::mutex g_sharedLock;
sqlite3* g_shared = nullptr;
sqlite3_stmt* g_sharedStmt = nullptr;

void BM_BaselineRawReadSharedConnection(benchmark::State& state) {
  int i = state.thread_index();
  for (auto _ : state) {
    std::lock_guard<std::mutex> guard(g_sharedLock);
    RawQuery(g_sharedStmt, NameOf(i++), state);
  }
  state.SetItemsProcessed(state.iterations());
}

void Configure(benchmark::internal::Benchmark* b) {
  b->Threads(1)->Threads(8)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_BaselineFileFdatasync)->Apply(Configure);
BENCHMARK(BM_BaselineRawCommitPerWrite)->Apply(Configure);
BENCHMARK(BM_RegistryDurableWrite)->Apply(Configure);
BENCHMARK(BM_BaselineRawReadOwnConnection)->Apply(Configure);
BENCHMARK(BM_BaselineRawReadSharedConnection)->Apply(Configure);
BENCHMARK(BM_RegistryRead)->Apply(Configure);
BENCHMARK(BM_RegistryAccessReadDword)->Apply(Configure);

}  // namespace

int main(int argc, char** argv) {
  kavelo::testsupport::TempRegistry registry;
  g_dir = registry.dir();

  // The values the reads look up.
  RegKey key;
  kavelo::platform::RegCreateKey(Hive::kLocalMachine, "Bench\\Read",
                                 kavelo::platform::KEY_ALL_ACCESS, &key);
  for (int i = 0; i < kNames; ++i) {
    std::string data = "data of " + NameOf(i);
    kavelo::platform::RegSetValue(key, NameOf(i), kavelo::platform::REG_SZ, data.c_str(),
                                  data.size() + 1);
  }
  kavelo::RegistryAccess access(Hive::kLocalMachine, "Bench");
  for (const char* name :
       {"Port", "MaxConnections", "KeepAlive", "Timeout", "SendBuffer", "RecvBuffer"}) {
    access.WriteDword("Params", name, 4096);
  }
  g_shared = OpenRaw();
  sqlite3_prepare_v2(g_shared, kRawQuery, -1, &g_sharedStmt, nullptr);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  sqlite3_finalize(g_sharedStmt);
  sqlite3_close(g_shared);
  return 0;
}
