// Cost of the print control's input-file test: the full test (open, lock
// probe, scan of the other processes' descriptors for a writer) against the
// bare open and size query it replaces.  Run:
//   build/bench/file_check_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include "printcontrol/job/file_check.h"

namespace {

std::string MakeFile() {
  char pattern[] = "/tmp/file_check_bench.XXXXXX";
  int fd = mkstemp(pattern);
  if (fd >= 0) {
    if (write(fd, "<report/>", 9) != 9) std::perror("write");
    close(fd);
  }
  return pattern;
}

void BM_OpenAndSize(benchmark::State& state) {
  std::string path = MakeFile();
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    fstat(fd, &st);
    close(fd);
    benchmark::DoNotOptimize(st.st_size);
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_OpenAndSize);

void BM_CheckInputFile(benchmark::State& state) {
  std::string path = MakeFile();
  char message[1024];
  for (auto _ : state) {
    int64_t size = 0;
    benchmark::DoNotOptimize(
        kavelo::printcontrol::CheckInputFile(path.c_str(), &size, message, sizeof(message)));
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_CheckInputFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
