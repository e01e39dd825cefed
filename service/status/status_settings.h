// Where the service's read-only HTTP side listens: two values of the
// service's Parameters key, read once per start.
#ifndef KAVELO_SERVICE_STATUS_SETTINGS_H_
#define KAVELO_SERVICE_STATUS_SETTINGS_H_

#include <cstdint>
#include <string>

namespace kavelo::service {

struct StatusSettings {
  static constexpr uint32_t kDefaultPort = 4001;
  uint32_t port = kDefaultPort;        // "StatusPort" (REG_DWORD); 0 turns the HTTP side off
  std::string address = "127.0.0.1";  // "StatusAddress" (REG_SZ)
};

// The settings of the named service; a missing or mistyped value keeps its
// default, and so does a port above 65535.
StatusSettings ReadStatusSettings(const std::string& serviceName);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_STATUS_SETTINGS_H_
