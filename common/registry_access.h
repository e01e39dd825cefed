// RegistryAccess: reads and writes single registry values below one base
// key path.  Every operation opens, uses and closes its own key; the object
// keeps no handle.  Values are read by enumerating the key and matching the
// name byte for byte (case matters) and the type, whatever the store's own
// lookup rules are.
//
// A RegistryAccess is used by one thread at a time.
#ifndef KAVELO_COMMON_REGISTRY_ACCESS_H_
#define KAVELO_COMMON_REGISTRY_ACCESS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace kavelo {

class RegistryAccess {
 public:
  // Buffer sizes of the reads: a value whose name or data does not fit is
  // treated as absent.
  static constexpr uint32_t kNameBufferSize = 256;
  static constexpr uint32_t kStringBufferSize = 256;
  static constexpr uint32_t kListBufferSize = 8172;

  // Throws NullPointerException for a null base path and
  // IllegalArgumentException for an empty one.
  RegistryAccess(platform::Hive rootKey, const char* basePath);
  RegistryAccess(platform::Hive rootKey, const std::string& basePath)
      : RegistryAccess(rootKey, basePath.c_str()) {}

  // The base path with subkey and then name appended, each after a "\"
  // unless it is empty or already begins with one.
  std::string FullPath(const char* subkey, const char* name = nullptr) const;

  // True when the subkey opens for reading.
  bool KeyExists(const char* subkey) const;

  // The REG_DWORD value of that name (null or empty name: the unnamed
  // value), else defaultValue.
  int32_t ReadDword(const char* subkey, const char* name, int32_t defaultValue) const;

  // The REG_SZ or REG_EXPAND_SZ value of that name, unexpanded, up to its
  // first NUL.  A missing value gives defaultText (empty when null); a key
  // that cannot be opened gives the empty text.
  std::string ReadString(const char* subkey, const char* name, const char* defaultText) const;

  // The items of the REG_MULTI_SZ value of that name (a REG_SZ or
  // REG_EXPAND_SZ value of the name gives its text as the one item), in
  // order, whatever its length; the list ends at the first empty item.
  // *found (when given) tells whether such a value is there.
  std::vector<std::string> ReadMultiString(const char* subkey, const char* name,
                                           bool* found = nullptr) const;

  // Create the key when missing and write the value (a text with one
  // terminating NUL; a DWORD as 4 little-endian bytes).  Return the status.
  long WriteDword(const char* subkey, const char* name, int32_t value) const;
  long WriteString(const char* subkey, const char* name, const char* text) const;

  // Fills the parallel lists with every value of that type whose data is not
  // empty, in enumeration order.  A key that cannot be opened leaves both
  // lists as they are.
  void ReadStringValues(std::vector<std::string>* names, std::vector<std::string>* data,
                        const char* subkey, uint32_t type) const;
  // The same, returning the registry status of the read: kErrorSuccess, or
  // why the key could not be opened or its values not be read.
  long ReadStringValuesStatus(std::vector<std::string>* names, std::vector<std::string>* data,
                              const char* subkey, uint32_t type) const;

  // Deletes one value of the key at the subkey; returns the status.
  long DeleteValue(const char* subkey, const char* name) const;

 private:
  long WriteDwordOnce(const char* subkey, const char* name, int32_t value) const;
  long WriteStringOnce(const char* subkey, const char* name, const char* text) const;
  platform::Hive rootKey_;
  std::string basePath_;
};

}  // namespace kavelo

#endif  // KAVELO_COMMON_REGISTRY_ACCESS_H_
