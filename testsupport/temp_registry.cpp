#include "testsupport/temp_registry.h"

#include "platform/print_limits.h"

namespace kavelo::testsupport {

using platform::Hive;
using platform::RegKey;

std::string Dword(uint32_t value) {
  return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                     static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
}

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

RawValue KeyOnly(const std::string& key) { return RawValue{key, "", platform::REG_NONE, ""}; }

long WriteRaw(const std::vector<RawValue>& values) {
  for (const RawValue& v : values) {
    RegKey key;
    long status = platform::RegCreateKey(Hive::kLocalMachine, v.key, platform::KEY_WRITE, &key);
    if (status != platform::kErrorSuccess) return status;
    if (v.type == platform::REG_NONE && v.data.empty() && v.name.empty()) continue;
    status = platform::RegSetValue(key, v.name, v.type, v.data.data(),
                                   static_cast<uint32_t>(v.data.size()));
    if (status != platform::kErrorSuccess) return status;
  }
  return platform::kErrorSuccess;
}

uint32_t ReadDwordValue(const std::string& keyPath, const std::string& name, bool* found) {
  *found = false;
  RegKey key;
  if (platform::RegOpenKey(Hive::kLocalMachine, keyPath, platform::KEY_READ, &key) != 0) return 0;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (platform::RegQueryValue(key, name, &type, &data) != 0 || type != platform::REG_DWORD ||
      data.size() != 4) {
    return 0;
  }
  *found = true;
  return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
}

std::string ReadTextValue(const std::string& keyPath, const std::string& name, bool* found) {
  *found = false;
  RegKey key;
  if (platform::RegOpenKey(Hive::kLocalMachine, keyPath, platform::KEY_READ, &key) != 0) return "";
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (platform::RegQueryValue(key, name, &type, &data) != 0) return "";
  *found = true;
  return std::string(data.begin(), data.end());
}

bool KeyExists(const std::string& keyPath) {
  RegKey key;
  return platform::RegOpenKey(Hive::kLocalMachine, keyPath, platform::KEY_READ, &key) == 0;
}

void WriteDwordValue(const std::string& keyPath, const std::string& name, uint32_t value) {
  RegKey key;
  platform::RegCreateKey(Hive::kLocalMachine, keyPath, platform::KEY_ALL_ACCESS, &key);
  platform::RegSetValue(key, name, platform::REG_DWORD, &value, 4);
}

void WriteTextValue(const std::string& keyPath, const std::string& name, const std::string& text) {
  RegKey key;
  platform::RegCreateKey(Hive::kLocalMachine, keyPath, platform::KEY_ALL_ACCESS, &key);
  platform::RegSetValue(key, name, platform::REG_SZ, text.c_str(),
                        static_cast<uint32_t>(text.size() + 1));
}

void SetPrintLimit(const char* name, uint32_t value) {
  WriteDwordValue(platform::kPrintLimitsKey, name, value);
}

}  // namespace kavelo::testsupport
