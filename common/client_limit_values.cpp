#include "common/client_limit_values.h"

#include "common/registry_access.h"
#include "common/service_parameters.h"

namespace kavelo {

ClientLimitValues ReadClientLimitValues(platform::Hive rootKey, const std::string& serviceKeyPath) {
  RegistryAccess access(rootKey, serviceKeyPath);
  ClientLimitValues values;
  auto dword = [&](const char* name, uint32_t fallback) {
    return static_cast<uint32_t>(
        access.ReadDword(kParametersSubkey, name, static_cast<int32_t>(fallback)));
  };
  values.listenAddress = access.ReadString(kParametersSubkey, "ListenAddress", "");
  values.allowedClients = access.ReadMultiString(kParametersSubkey, "AllowedClients");
  values.spoolReserveMB = dword("SpoolReserveMB", values.spoolReserveMB);
  values.maxQueuedJobsPerClient = dword("MaxQueuedJobsPerClient", values.maxQueuedJobsPerClient);
  values.maxQueuedMBPerClient = dword("MaxQueuedMBPerClient", values.maxQueuedMBPerClient);
  values.maxConnectionsPerClient = dword("MaxConnectionsPerClient", values.maxConnectionsPerClient);
  values.trustedProxies = access.ReadMultiString(kParametersSubkey, "TrustedProxies");
  return values;
}

}  // namespace kavelo
