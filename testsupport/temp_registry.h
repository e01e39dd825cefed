// A private registry for the life of a test, and raw access to its values.
#ifndef KAVELO_TESTSUPPORT_TEMP_REGISTRY_H_
#define KAVELO_TESTSUPPORT_TEMP_REGISTRY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::testsupport {

// Makes a fresh folder, points KAVELO_REGISTRY_DIR at it, and removes it
// (and restores the variable) when it goes.
class TempRegistry {
 public:
  TempRegistry() : dir_("kavelo-registry"), env_("KAVELO_REGISTRY_DIR", dir_.path()) {}

  const std::string& dir() const { return dir_.path(); }
  std::string MachineHive() const { return dir_.path() + "/HKEY_LOCAL_MACHINE.db"; }

 private:
  TempDir dir_;
  ScopedEnv env_;
};

// One value below HKEY_LOCAL_MACHINE, of any type, with its exact bytes.
struct RawValue {
  std::string key;  // below HKEY_LOCAL_MACHINE
  std::string name;
  uint32_t type;
  std::string data;  // exact bytes
};

// The four little-endian bytes of a REG_DWORD.
std::string Dword(uint32_t value);
// The bytes of a REG_SZ: the text and its terminating NUL.
std::string Sz(const std::string& text);
// A key without values.
RawValue KeyOnly(const std::string& key);
// Writes every value (a KeyOnly entry only makes its key); the first
// failing status, else kErrorSuccess.
long WriteRaw(const std::vector<RawValue>& values);

// Values below HKEY_LOCAL_MACHINE as a test reads and writes them; a write
// makes the key.  *found tells whether the value is there (for a DWORD: of
// that type and size).
uint32_t ReadDwordValue(const std::string& keyPath, const std::string& name, bool* found);
std::string ReadTextValue(const std::string& keyPath, const std::string& name, bool* found);
bool KeyExists(const std::string& keyPath);
void WriteDwordValue(const std::string& keyPath, const std::string& name, uint32_t value);
void WriteTextValue(const std::string& keyPath, const std::string& name, const std::string& text);
// Sets a REG_DWORD value of the print limits (platform/print_limits.h).
void SetPrintLimit(const char* name, uint32_t value);

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_TEMP_REGISTRY_H_
