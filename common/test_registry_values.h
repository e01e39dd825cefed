// Test support for common/: writes raw registry values of any type.
#ifndef KAVELO_COMMON_TEST_REGISTRY_VALUES_H_
#define KAVELO_COMMON_TEST_REGISTRY_VALUES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace kavelo::testing_support {

struct RawValue {
  std::string key;  // below HKEY_LOCAL_MACHINE
  std::string name;
  uint32_t type;
  std::string data;  // exact bytes
};

inline std::string Dword(uint32_t value) {
  return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                     static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
}

inline std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

// A key without values.
inline RawValue KeyOnly(const std::string& key) {
  return RawValue{key, "", platform::REG_NONE, ""};
}

// Writes every value (a KeyOnly entry only makes its key).
inline long WriteRaw(const std::vector<RawValue>& values) {
  for (const RawValue& v : values) {
    platform::RegKey key;
    long status =
        platform::RegCreateKey(platform::Hive::kLocalMachine, v.key, platform::KEY_WRITE, &key);
    if (status != platform::kErrorSuccess) return status;
    if (v.type == platform::REG_NONE && v.data.empty() && v.name.empty()) continue;
    status = platform::RegSetValue(key, v.name, v.type, v.data.data(),
                                   static_cast<uint32_t>(v.data.size()));
    if (status != platform::kErrorSuccess) return status;
  }
  return platform::kErrorSuccess;
}

}  // namespace kavelo::testing_support

#endif  // KAVELO_COMMON_TEST_REGISTRY_VALUES_H_
