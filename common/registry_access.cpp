#include "common/registry_access.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "common/exceptions.h"

namespace kavelo {
namespace {

void AppendPart(std::string* path, const char* part) {
  if (!part || !*part) return;
  if (part[0] != '\\') *path += '\\';
  *path += part;
}

// True when the enumerated value answers a request for name: the same bytes,
// or the unnamed value for a null or empty name.
bool NameMatches(const char* requested, const char* stored, uint32_t storedLength) {
  if (!requested || !*requested) return storedLength == 0;
  return strlen(requested) == storedLength && memcmp(requested, stored, storedLength) == 0;
}

// The text of string data: up to its first NUL or its reported length.
std::string TextOf(const uint8_t* data, uint32_t length) {
  const void* nul = memchr(data, 0, length);
  size_t size = nul ? static_cast<const uint8_t*>(nul) - data : length;
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The values of the key at path as an enumeration with buffers of
// nameBuffer and dataBuffer bytes gives them: a value whose name (with its
// NUL) or data does not fit is left out.  All values come from one state of
// the hive, so values that other threads or processes add or delete meanwhile
// never make the walk skip one.  A failure part way (the key was deleted,
// the hive is damaged) ends the list.  False when the key does not open.
bool ReadFittingValues(platform::Hive hive, const std::string& path, uint32_t nameBuffer,
                       uint32_t dataBuffer, std::vector<platform::RegValue>* values,
                       long* status = nullptr) {
  values->clear();
  platform::RegKey key;
  long opened = platform::RegOpenKey(hive, path, platform::KEY_READ, &key);
  if (status) *status = opened;
  if (opened != platform::kErrorSuccess) return false;
  std::vector<platform::RegValue> all;
  long read = platform::RegQueryValues(key, &all);
  if (status) *status = read;
  if (read != platform::kErrorSuccess) return true;
  for (platform::RegValue& value : all) {
    if (value.name.size() < nameBuffer && value.data.size() <= dataBuffer) {
      values->push_back(std::move(value));
    }
  }
  return true;
}

// Runs a write again while the hive reports that another writer held it
// too long: under many concurrent writers SQLite can give up a lock upgrade
// at once instead of waiting, and a service write (a queued job) must not
// fail for a passing contention.  Bounded: about two seconds in all.
template <typename Write>
long RetryWhileBusy(Write write) {
  long status = write();
  for (int attempt = 1; status == platform::kErrorBusy && attempt <= 40; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(attempt * 2, 50)));
    status = write();
  }
  return status;
}

}  // namespace

RegistryAccess::RegistryAccess(platform::Hive rootKey, const char* basePath) : rootKey_(rootKey) {
  if (!basePath) throw NullPointerException();
  if (!*basePath) throw IllegalArgumentException();
  basePath_ = basePath;
}

std::string RegistryAccess::FullPath(const char* subkey, const char* name) const {
  std::string path = basePath_;
  AppendPart(&path, subkey);
  AppendPart(&path, name);
  return path;
}

bool RegistryAccess::KeyExists(const char* subkey) const {
  platform::RegKey key;
  return platform::RegOpenKey(rootKey_, FullPath(subkey), platform::KEY_READ, &key) ==
         platform::kErrorSuccess;
}

int32_t RegistryAccess::ReadDword(const char* subkey, const char* name,
                                  int32_t defaultValue) const {
  std::vector<platform::RegValue> values;
  ReadFittingValues(rootKey_, FullPath(subkey), kNameBufferSize, 4, &values);
  for (const platform::RegValue& value : values) {
    if (value.type == platform::REG_DWORD &&
        NameMatches(name, value.name.data(), static_cast<uint32_t>(value.name.size()))) {
      // Shorter data fills the low bytes.
      return static_cast<int32_t>(platform::DwordFromBytes(value.data.data(), value.data.size()));
    }
  }
  return defaultValue;
}

std::string RegistryAccess::ReadString(const char* subkey, const char* name,
                                       const char* defaultText) const {
  std::vector<platform::RegValue> values;
  if (!ReadFittingValues(rootKey_, FullPath(subkey), kNameBufferSize, kStringBufferSize, &values)) {
    return std::string();
  }
  for (const platform::RegValue& value : values) {
    if ((value.type == platform::REG_SZ || value.type == platform::REG_EXPAND_SZ) &&
        NameMatches(name, value.name.data(), static_cast<uint32_t>(value.name.size()))) {
      return TextOf(value.data.data(), static_cast<uint32_t>(value.data.size()));
    }
  }
  return defaultText ? std::string(defaultText) : std::string();
}

std::vector<std::string> RegistryAccess::ReadMultiString(const char* subkey, const char* name,
                                                         bool* found) const {
  std::vector<std::string> items;
  if (found) *found = false;
  std::vector<platform::RegValue> values;
  ReadFittingValues(rootKey_, FullPath(subkey), kNameBufferSize, UINT32_MAX, &values);
  for (const platform::RegValue& value : values) {
    bool multi = value.type == platform::REG_MULTI_SZ;
    if ((!multi && value.type != platform::REG_SZ && value.type != platform::REG_EXPAND_SZ) ||
        !NameMatches(name, value.name.data(), static_cast<uint32_t>(value.name.size()))) {
      continue;
    }
    if (found) *found = true;
    const uint8_t* data = value.data.data();
    size_t left = value.data.size();
    while (left > 0) {
      std::string item = TextOf(data, static_cast<uint32_t>(left));
      if (item.empty()) break;
      items.push_back(item);
      if (!multi) break;
      size_t step = std::min(item.size() + 1, left);
      data += step;
      left -= step;
    }
    break;
  }
  return items;
}

long RegistryAccess::WriteDword(const char* subkey, const char* name, int32_t value) const {
  return RetryWhileBusy([&] { return WriteDwordOnce(subkey, name, value); });
}

long RegistryAccess::WriteString(const char* subkey, const char* name, const char* text) const {
  return RetryWhileBusy([&] { return WriteStringOnce(subkey, name, text); });
}

long RegistryAccess::WriteDwordOnce(const char* subkey, const char* name, int32_t value) const {
  platform::RegKey key;
  long status = platform::RegCreateKey(rootKey_, FullPath(subkey), platform::KEY_WRITE, &key);
  if (status != platform::kErrorSuccess) return status;
  return platform::RegSetDword(key, name ? name : "", static_cast<uint32_t>(value));
}

long RegistryAccess::WriteStringOnce(const char* subkey, const char* name,
                                     const char* text) const {
  platform::RegKey key;
  long status = platform::RegCreateKey(rootKey_, FullPath(subkey), platform::KEY_WRITE, &key);
  if (status != platform::kErrorSuccess) return status;
  if (!text) text = "";
  return platform::RegSetValue(key, name ? name : "", platform::REG_SZ, text,
                               static_cast<uint32_t>(strlen(text) + 1));
}

void RegistryAccess::ReadStringValues(std::vector<std::string>* names,
                                      std::vector<std::string>* data, const char* subkey,
                                      uint32_t type) const {
  ReadStringValuesStatus(names, data, subkey, type);
}

long RegistryAccess::ReadStringValuesStatus(std::vector<std::string>* names,
                                            std::vector<std::string>* data, const char* subkey,
                                            uint32_t type) const {
  std::vector<platform::RegValue> values;
  long status = platform::kErrorSuccess;
  if (!ReadFittingValues(rootKey_, FullPath(subkey), kListBufferSize, kListBufferSize, &values,
                         &status)) {
    return status;
  }
  names->clear();
  data->clear();
  for (const platform::RegValue& value : values) {
    if (value.data.empty() || value.data[0] == 0 || value.type != type) continue;
    names->push_back(value.name);
    data->push_back(TextOf(value.data.data(), static_cast<uint32_t>(value.data.size())));
  }
  return status;
}

long RegistryAccess::DeleteValue(const char* subkey, const char* name) const {
  return RetryWhileBusy(
      [&] { return platform::RegDeleteKeyValue(rootKey_, FullPath(subkey), name ? name : ""); });
}

}  // namespace kavelo
