#include "service/host/event_source_registration.h"

#include "platform/registry.h"

namespace kavelo::service {
namespace {

constexpr char kApplicationLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

bool IsSingleKeyName(const std::string& name) {
  return !name.empty() && name.find('\\') == std::string::npos;
}

}  // namespace

std::string EventSourceKeyPath(const std::string& sourceName) {
  return std::string(kApplicationLogKey) + "\\" + sourceName;
}

bool AddEventSource(const std::string& programPath, const std::string& sourceName, uint32_t types) {
  if (!IsSingleKeyName(sourceName)) return false;
  platform::RegKey key;
  if (platform::RegCreateKey(platform::Hive::kLocalMachine, EventSourceKeyPath(sourceName),
                             platform::KEY_ALL_ACCESS, &key) != platform::kErrorSuccess) {
    return false;
  }
  // The two writes' results are not examined: the key is what tells the
  // event viewer that the source exists.
  platform::RegSetValue(key, "EventMessageFile", platform::REG_EXPAND_SZ, programPath.c_str(),
                        static_cast<uint32_t>(programPath.size() + 1));
  platform::RegSetDword(key, "TypesSupported", types);
  key.Close();
  return true;
}

bool RemoveEventSource(const std::string& sourceName) {
  if (!IsSingleKeyName(sourceName)) return false;
  platform::RegKey application;
  if (platform::RegOpenKey(platform::Hive::kLocalMachine, kApplicationLogKey,
                           platform::KEY_ALL_ACCESS, &application) != platform::kErrorSuccess) {
    return false;
  }
  return platform::RegDeleteTree(application, sourceName) == platform::kErrorSuccess;
}

}  // namespace kavelo::service
