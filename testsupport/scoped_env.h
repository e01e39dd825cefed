// An environment variable set (or unset) for the life of a test.
#ifndef KAVELO_TESTSUPPORT_SCOPED_ENV_H_
#define KAVELO_TESTSUPPORT_SCOPED_ENV_H_

#include <string>

namespace kavelo::testsupport {

// Sets name to value (unsets it when value is null) and gives it back its
// earlier value, or unsets it again, on destruction.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const char* value);
  ScopedEnv(const std::string& name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadOld_ = false;
};

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_SCOPED_ENV_H_
