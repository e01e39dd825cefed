#include "service/status/status_settings.h"

#include <algorithm>
#include <vector>

#include "platform/registry.h"

namespace kavelo::service {

StatusSettings ReadStatusSettings(const std::string& serviceName) {
  StatusSettings settings;
  platform::RegKey key;
  if (serviceName.empty() ||
      platform::RegOpenKey(platform::Hive::kLocalMachine,
                           "SYSTEM\\CurrentControlSet\\Services\\" + serviceName + "\\Parameters",
                           platform::KEY_READ, &key) != platform::kErrorSuccess) {
    return settings;
  }
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (platform::RegQueryValue(key, "StatusPort", &type, &data) == platform::kErrorSuccess &&
      type == platform::REG_DWORD && data.size() == 4) {
    uint32_t port = platform::DwordFromBytes(data.data(), data.size());
    if (port <= 65535) settings.port = port;
  }
  if (platform::RegQueryValue(key, "DrainSeconds", &type, &data) == platform::kErrorSuccess &&
      type == platform::REG_DWORD && data.size() == 4) {
    settings.drainSeconds = std::min(platform::DwordFromBytes(data.data(), data.size()),
                                     StatusSettings::kMaxDrainSeconds);
  }
  if (platform::RegQueryValue(key, "StatusAddress", &type, &data) == platform::kErrorSuccess &&
      type == platform::REG_SZ) {
    std::string address(data.begin(), data.end());
    address.erase(address.find_last_not_of('\0') + 1);
    if (!address.empty()) settings.address = address;
  }
  return settings;
}

}  // namespace kavelo::service
