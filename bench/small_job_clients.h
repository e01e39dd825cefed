// The clients of the small-job benchmarks: each sends its jobs one after the
// other over its own connection, all at once, to a service on this machine.
#ifndef KAVELO_BENCH_SMALL_JOB_CLIENTS_H_
#define KAVELO_BENCH_SMALL_JOB_CLIENTS_H_

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tools/job_client.h"

namespace kavelo {

// Sends the report and stylesheet perClient times from each of clients
// threads to 127.0.0.1:port; returns how many jobs were queued.
inline int SendSmallJobs(int port, int clients, int perClient, const std::string& xml,
                         const std::string& xsl) {
  std::atomic<int> queued{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      JobClient client("127.0.0.1", port, 60000);
      for (int i = 0; i < perClient; ++i) {
        if (client.Send("copies=1", JobDocument{"", xml}, JobDocument{"", xsl}).outcome ==
            JobOutcome::kQueued) {
          ++queued;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  return queued.load();
}

}  // namespace kavelo

#endif  // KAVELO_BENCH_SMALL_JOB_CLIENTS_H_
