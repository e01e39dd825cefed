// Child processes of a test: one whose output is read line by line, and a
// program run to its end with its input and output as text.
#ifndef KAVELO_TESTSUPPORT_CHILD_PROCESS_H_
#define KAVELO_TESTSUPPORT_CHILD_PROCESS_H_

#include <cstdio>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kavelo::testsupport {

// A child process started with posix_spawn (inheriting the environment,
// KAVELO_REGISTRY_DIR included) whose standard output is a pipe.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with argv; extraEnv entries ("NAME=value") are added.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
  // The next line of the child's output without its line end; false at EOF.
  bool ReadLine(std::string* line);
  void Kill();
  // Waits for the child; returns the wait status.
  int Wait();

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

// Runs a program (argv[0], found on PATH when it holds no "/") to its end
// with stdin from the given text; returns its exit code (-1 when it did not
// start or exit normally; it is killed after timeoutMs) with its output in
// *out and *err.
int RunProgram(const std::vector<std::string>& argv, const std::string& input, std::string* out,
               std::string* err, int timeoutMs = 60000);

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_CHILD_PROCESS_H_
