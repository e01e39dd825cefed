// What starting a program inside resource limits costs the caller, beside
// its baselines in the same run: posix_spawn without limits (what a start
// costs at best), and fork + setrlimit + exec as the limited start was made
// before (each page of the caller's address space is copied into the
// child's page tables, so it grows with the caller).  The caller's size is
// the argument: MiB of touched heap (the service holds a few dozen MiB;
// the larger size shows the growth).  Each start runs /bin/true and is
// waited for.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "platform/process.h"

extern char** environ;

namespace kavelo {
namespace {

constexpr uint64_t kAddressSpace = 4096ULL << 20;

// The caller's memory: size MiB, every page touched.
std::vector<char>& Ballast(size_t mib) {
  static std::vector<char> ballast;
  ballast.assign(mib << 20, 1);
  return ballast;
}

// The limited start as it was: fork, limits, exec, failure reported
// through a close-on-exec pipe the caller reads until exec closes it.
pid_t ForkLimited(const char* path, char* const* argv) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    struct rlimit limit = {kAddressSpace, kAddressSpace};
    setrlimit(RLIMIT_AS, &limit);
    setpgid(0, 0);
    execve(path, argv, environ);
    int error = errno;
    ssize_t ignored = write(fds[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(fds[1]);
  int error = 0;
  ssize_t n;
  do {
    n = read(fds[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(fds[0]);
  return pid;
}

void BM_ForkLimitedBaseline(benchmark::State& state) {
  Ballast(static_cast<size_t>(state.range(0)));
  char path[] = "/bin/true";
  char* argv[] = {path, nullptr};
  for (auto _ : state) {
    pid_t pid = ForkLimited(path, argv);
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
}

void BM_StartLimited(benchmark::State& state) {
  Ballast(static_cast<size_t>(state.range(0)));
  platform::ResourceLimits limits;
  limits.addressSpaceBytes = kAddressSpace;
  for (auto _ : state) {
    platform::Process process;
    if (process.Start(std::vector<std::string>{"/bin/true"}, true, limits) != 0) {
      return state.SkipWithError("start failed");
    }
    process.Wait(platform::kWaitInfinite);
  }
}

void BM_PosixSpawnBaseline(benchmark::State& state) {
  Ballast(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    platform::Process process;
    if (process.Start(std::vector<std::string>{"/bin/true"}, true) != 0) {
      return state.SkipWithError("start failed");
    }
    process.Wait(platform::kWaitInfinite);
  }
}

// The caller's sizes and repetitions of every start.  The CPU column is what
// the start costs the caller (the copy of its page tables falls there); the
// wall time also holds the child's run and waits for a core on a busy
// machine.
void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->Repetitions(3);
  b->ReportAggregatesOnly(true);
}
BENCHMARK(BM_ForkLimitedBaseline)->Apply(Sizes);
BENCHMARK(BM_StartLimited)->Apply(Sizes);
BENCHMARK(BM_PosixSpawnBaseline)->Apply(Sizes);

}  // namespace
}  // namespace kavelo

BENCHMARK_MAIN();
