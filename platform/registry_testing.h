// Test support: a private registry folder for the life of a test.
#ifndef KAVELO_PLATFORM_REGISTRY_TESTING_H_
#define KAVELO_PLATFORM_REGISTRY_TESTING_H_

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>

extern char** environ;

namespace kavelo::platform {

// Makes a fresh folder, points KAVELO_REGISTRY_DIR at it, and removes it
// (and restores the variable) when it goes.
class TempRegistry {
 public:
  TempRegistry() {
    char pattern[] = "/tmp/kavelo-registry.XXXXXX";
    const char* made = mkdtemp(pattern);
    dir_ = made ? made : "";
    const char* old = getenv("KAVELO_REGISTRY_DIR");
    had_old_ = old != nullptr;
    if (old) old_ = old;
    setenv("KAVELO_REGISTRY_DIR", dir_.c_str(), 1);
  }
  ~TempRegistry() {
    if (had_old_) {
      setenv("KAVELO_REGISTRY_DIR", old_.c_str(), 1);
    } else {
      unsetenv("KAVELO_REGISTRY_DIR");
    }
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;

  const std::string& dir() const { return dir_; }
  std::string MachineHive() const { return dir_ + "/HKEY_LOCAL_MACHINE.db"; }

 private:
  std::string dir_;
  std::string old_;
  bool had_old_ = false;
};

// A child process started with posix_spawn (inheriting the environment,
// KAVELO_REGISTRY_DIR included) whose standard output is a pipe.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (out_) fclose(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with argv; extraEnv entries ("NAME=value") are added.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {}) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText(extraEnv);
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    for (std::string& e : envText) env.push_back(&e[0]);
    env.push_back(nullptr);
    int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      pid_ = -1;
      return false;
    }
    out_ = fdopen(fds[0], "r");
    return out_ != nullptr;
  }

  // The next line of the child's output without its line end; false at EOF.
  bool ReadLine(std::string* line) {
    line->clear();
    int c;
    while ((c = fgetc(out_)) != EOF && c != '\n') *line += static_cast<char>(c);
    return c != EOF || !line->empty();
  }

  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
  }

  // Waits for the child; returns the wait status.
  int Wait() {
    int status = -1;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

// Runs a program to its end with stdin from the given text; returns its
// exit code (-1 when it did not exit normally) with its output in *out and
// *err.
inline int RunProgram(const std::vector<std::string>& argv, const std::string& input,
                      std::string* out, std::string* err) {
  char pattern[] = "/tmp/kavelo-run.XXXXXX";
  const char* made = mkdtemp(pattern);
  if (!made) return -1;
  std::string dir = made;
  std::ofstream(dir + "/in", std::ios::binary) << input;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, (dir + "/in").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (dir + "/out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, (dir + "/err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = -1;
  if (rc == 0) waitpid(pid, &status, 0);
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  if (out) *out = slurp(dir + "/out");
  if (err) *err = slurp(dir + "/err");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return rc == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_REGISTRY_TESTING_H_
