// The registry: a hierarchical store of keys and typed values, kept in one
// SQLite database file per hive in KAVELO_REGISTRY_DIR.
//
// Semantics are those callers expect of the Windows registry calls:
// key and value names are case-insensitive and case-preserving, values keep
// their exact bytes and enumerate in creation order, status codes are the
// Windows ones.  Every write is one durable transaction before the call
// returns.  Several processes and threads may use the same hives at once.
//
// A RegKey is a handle: it names a key, it holds no database resource, and
// it may be used by one thread at a time.  All functions are thread safe.
#ifndef KAVELO_PLATFORM_REGISTRY_H_
#define KAVELO_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace kavelo::platform {

// The registry returns the status codes of platform/status.h.

// Value types, with their Windows numbers.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;

// Access rights, with their Windows numbers.
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

enum class Hive {
  kLocalMachine,  // HKEY_LOCAL_MACHINE.db
  kCurrentUser,   // one file per effective user name
};

// An open key.  Closing (or destroying) an open key is always safe.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() = default;
  RegKey(RegKey&&) noexcept = default;
  RegKey& operator=(RegKey&&) noexcept = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  bool IsOpen() const { return open_; }
  void Close() { open_ = false; }
  Hive hive() const { return hive_; }
  // The key's path below its hive as it was opened (no leading "\").
  const std::string& path() const { return path_; }
  bool writable() const { return writable_; }

 private:
  friend class RegistryImpl;
  bool open_ = false;
  Hive hive_ = Hive::kLocalMachine;
  std::string path_;
  bool writable_ = false;
  int64_t id_ = 0;  // row id of the key in its hive
};

// Folder of the hive files: KAVELO_REGISTRY_DIR, else /var/lib/kavelo/registry.
std::string RegistryDirectory();

// The file that holds the hive; SQLite keeps its "-wal" and "-shm" files
// beside it while the hive is in use.
std::string RegistryHiveFile(Hive hive);

// Opens an existing key.  path is relative to the hive, parts separated by
// "\"; an empty path opens the hive's root.  Returns kErrorFileNotFound when
// the key does not exist.
long RegOpenKey(Hive hive, const std::string& path, uint32_t access, RegKey* key);

// Opens the key, creating it and any missing parents first.  *created (when
// given) tells whether it was created.
long RegCreateKey(Hive hive, const std::string& path, uint32_t access, RegKey* key,
                  bool* created = nullptr);

// Enumerates the key's values in creation order.  name receives the stored
// spelling with a terminating NUL; *nameLength is the buffer size in bytes on
// entry and the name length without the NUL on return.  data receives the
// exact bytes; *dataLength is the buffer size on entry and the data length on
// return.  type, data and dataLength may be null.  A buffer too small gives
// kErrorMoreData (with the lengths needed); past the last value,
// kErrorNoMoreItems.
long RegEnumValue(const RegKey& key, uint32_t index, char* name, uint32_t* nameLength,
                  uint32_t* type, uint8_t* data, uint32_t* dataLength);

// One value as RegQueryValues gives it.
struct RegValue {
  std::string name;  // stored spelling
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;  // exact bytes
};

// Reads every value of the key in creation order, all from one consistent
// state of the hive: unlike a walk with RegEnumValue, no value is skipped or
// seen twice while other threads or processes add or delete values.
long RegQueryValues(const RegKey& key, std::vector<RegValue>* values);

// Reads one value by name (any letter case; empty name: the unnamed value).
long RegQueryValue(const RegKey& key, const std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data);

// Writes one value; an existing value of that name in any letter case is
// replaced in its place and keeps its spelling.
long RegSetValue(const RegKey& key, const std::string& name, uint32_t type, const void* data,
                 uint32_t length);

// Writes value as REG_DWORD: four bytes, least significant first.
long RegSetDword(const RegKey& key, const std::string& name, uint32_t value);

// The number in a REG_DWORD's bytes, least significant first: the first four
// count, fewer fill the low bytes.  Each reader decides which sizes it takes.
uint32_t DwordFromBytes(const uint8_t* data, size_t size);

long RegDeleteValue(const RegKey& key, const std::string& name);

// Deletes the key at path below key (empty: key itself) with all subkeys.
long RegDeleteTree(const RegKey& key, const std::string& subkey);

// Enumerates the direct subkeys in creation order, stored spelling.
long RegEnumKey(const RegKey& key, uint32_t index, std::string* name);

// Convenience for callers that address a key by path: deletes a value of the
// key at path (the key is not deleted).  Returns kErrorFileNotFound when the
// key or the value does not exist.
long RegDeleteKeyValue(Hive hive, const std::string& path, const std::string& name);

// Text helpers used by tools and tests.
const char* RegTypeName(uint32_t type);  // "REG_SZ", ... ; "REG_NONE" when unknown
bool ParseRegTypeName(const std::string& text, uint32_t* type);

}  // namespace kavelo::platform

#endif  // KAVELO_PLATFORM_REGISTRY_H_
