#include "testsupport/scoped_env.h"

#include <stdlib.h>

namespace kavelo::testsupport {

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : name_(name) {
  const char* old = getenv(name.c_str());
  hadOld_ = old != nullptr;
  if (old != nullptr) old_ = old;
  if (value != nullptr) {
    setenv(name.c_str(), value, 1);
  } else {
    unsetenv(name.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (hadOld_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace kavelo::testsupport
