// The service parameters that say who may print and how much, beside the
// ten that the console edits (it shows none of these): the address the
// intake listens on, the allowed clients, the spool reserve and the
// per-client bounds, the trusted proxies.  All in the service's Parameters key.
#ifndef KAVELO_COMMON_CLIENT_LIMIT_VALUES_H_
#define KAVELO_COMMON_CLIENT_LIMIT_VALUES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace kavelo {

struct ClientLimitValues {
  static constexpr uint32_t kDefaultSpoolReserveMB = 256;
  static constexpr uint32_t kDefaultMaxQueuedJobsPerClient = 1000;
  static constexpr uint32_t kDefaultMaxQueuedMBPerClient = 2048;
  static constexpr uint32_t kDefaultMaxConnectionsPerClient = 32;

  std::string listenAddress;                // "ListenAddress", REG_SZ; empty: every address
  std::vector<std::string> allowedClients;  // "AllowedClients", REG_MULTI_SZ; empty: everyone
  // REG_DWORD values; 0 stands for no bound.
  uint32_t spoolReserveMB = kDefaultSpoolReserveMB;                    // "SpoolReserveMB"
  uint32_t maxQueuedJobsPerClient = kDefaultMaxQueuedJobsPerClient;    // "MaxQueuedJobsPerClient"
  uint32_t maxQueuedMBPerClient = kDefaultMaxQueuedMBPerClient;        // "MaxQueuedMBPerClient"
  uint32_t maxConnectionsPerClient = kDefaultMaxConnectionsPerClient;  // "MaxConnectionsPerClient"
  // "TrustedProxies", REG_MULTI_SZ: the proxies whose PROXY protocol
  // header names the client; empty: none.
  std::vector<std::string> trustedProxies;
};

// Reads them from the "Parameters" key below serviceKeyPath
// (ServiceParameters::ParametersKeyPath); a value that is missing, or of
// another type, keeps its default.
ClientLimitValues ReadClientLimitValues(platform::Hive rootKey, const std::string& serviceKeyPath);

}  // namespace kavelo

#endif  // KAVELO_COMMON_CLIENT_LIMIT_VALUES_H_
