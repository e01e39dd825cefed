#include "common/registry_access.h"

#include <algorithm>
#include <cstring>

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

// Whether an enumeration step may go on to the next index.  Entries too
// large for the buffers are skipped; any other failure (the key was deleted,
// the hive is damaged) ends the walk instead of repeating forever.
bool Continues(long status) {
  return status == platform::kErrorSuccess || status == platform::kErrorMoreData;
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
  platform::RegKey key;
  if (platform::RegOpenKey(rootKey_, FullPath(subkey), platform::KEY_READ, &key) !=
      platform::kErrorSuccess) {
    return defaultValue;
  }
  for (uint32_t index = 0;; ++index) {
    char valueName[kNameBufferSize] = {};
    uint8_t data[4] = {};
    uint32_t nameLength = kNameBufferSize, dataLength = sizeof(data), type = 0;
    long status =
        platform::RegEnumValue(key, index, valueName, &nameLength, &type, data, &dataLength);
    if (!Continues(status)) break;
    if (status != platform::kErrorSuccess) continue;
    if (type == platform::REG_DWORD && NameMatches(name, valueName, nameLength)) {
      uint32_t value =
          data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
      return static_cast<int32_t>(value);
    }
  }
  return defaultValue;
}

std::string RegistryAccess::ReadString(const char* subkey, const char* name,
                                       const char* defaultText) const {
  platform::RegKey key;
  if (platform::RegOpenKey(rootKey_, FullPath(subkey), platform::KEY_READ, &key) !=
      platform::kErrorSuccess) {
    return std::string();
  }
  for (uint32_t index = 0;; ++index) {
    char valueName[kNameBufferSize] = {};
    uint8_t data[kStringBufferSize] = {};
    uint32_t nameLength = kNameBufferSize, dataLength = kStringBufferSize, type = 0;
    long status =
        platform::RegEnumValue(key, index, valueName, &nameLength, &type, data, &dataLength);
    if (!Continues(status)) break;
    if (status != platform::kErrorSuccess) continue;
    if ((type == platform::REG_SZ || type == platform::REG_EXPAND_SZ) &&
        NameMatches(name, valueName, nameLength)) {
      return TextOf(data, dataLength);
    }
  }
  return defaultText ? std::string(defaultText) : std::string();
}

long RegistryAccess::WriteDword(const char* subkey, const char* name, int32_t value) const {
  platform::RegKey key;
  long status = platform::RegCreateKey(rootKey_, FullPath(subkey), platform::KEY_WRITE, &key);
  if (status != platform::kErrorSuccess) return status;
  uint32_t bits = static_cast<uint32_t>(value);
  const uint8_t data[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                           static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  return platform::RegSetValue(key, name ? name : "", platform::REG_DWORD, data, sizeof(data));
}

long RegistryAccess::WriteString(const char* subkey, const char* name, const char* text) const {
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
  platform::RegKey key;
  if (platform::RegOpenKey(rootKey_, FullPath(subkey), platform::KEY_READ, &key) !=
      platform::kErrorSuccess) {
    return;
  }
  names->clear();
  data->clear();
  std::vector<char> valueName(kListBufferSize);
  std::vector<uint8_t> bytes(kListBufferSize);
  for (uint32_t index = 0;; ++index) {
    std::fill(valueName.begin(), valueName.end(), 0);
    std::fill(bytes.begin(), bytes.end(), 0);
    uint32_t nameLength = kListBufferSize, dataLength = kListBufferSize, valueType = 0;
    long status = platform::RegEnumValue(key, index, valueName.data(), &nameLength, &valueType,
                                         bytes.data(), &dataLength);
    if (!Continues(status)) break;
    if (status != platform::kErrorSuccess) continue;
    if (dataLength == 0 || bytes[0] == 0 || valueType != type) continue;
    names->emplace_back(valueName.data(), nameLength);
    data->push_back(TextOf(bytes.data(), dataLength));
  }
}

long RegistryAccess::DeleteValue(const char* subkey, const char* name) const {
  return platform::RegDeleteKeyValue(rootKey_, FullPath(subkey), name ? name : "");
}

}  // namespace kavelo
