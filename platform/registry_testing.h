// Test support: a private registry folder for the life of a test.
#ifndef KAVELO_PLATFORM_REGISTRY_TESTING_H_
#define KAVELO_PLATFORM_REGISTRY_TESTING_H_

#include <stdlib.h>

#include <filesystem>
#include <string>

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

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_REGISTRY_TESTING_H_
