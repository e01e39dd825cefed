// Where the service's read-only HTTP side listens, and how long a stop
// drains: values of the service's Parameters key, read once per start.
#ifndef KAVELO_SERVICE_STATUS_SETTINGS_H_
#define KAVELO_SERVICE_STATUS_SETTINGS_H_

#include <cstdint>
#include <string>

namespace kavelo::service {

struct StatusSettings {
  static constexpr uint32_t kDefaultPort = 4001;
  uint32_t port = kDefaultPort;        // "StatusPort" (REG_DWORD); 0 turns the HTTP side off
  std::string address = "127.0.0.1";  // "StatusAddress" (REG_SZ)
  // "DrainSeconds" (REG_DWORD, at most kMaxDrainSeconds): at a stop, /health
  // answers 503 this long while the intake still takes jobs, so that a load
  // balancer takes the node out of its rotation before it stops listening.
  static constexpr uint32_t kMaxDrainSeconds = 30;
  uint32_t drainSeconds = 0;
};

// The settings of the named service; a missing or mistyped value keeps its
// default, and so does a port above 65535; a longer drain is cut to its
// bound.
StatusSettings ReadStatusSettings(const std::string& serviceName);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_STATUS_SETTINGS_H_
