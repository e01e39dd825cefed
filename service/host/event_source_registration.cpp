#include "service/host/event_source_registration.h"

#include "platform/status.h"

namespace kavelo::service {

bool AddEventSource(const std::string& programPath, const std::string& sourceName, uint32_t types) {
  // The values' status is not examined: the key is what tells the event
  // viewer that the source exists.
  return platform::AddEventSource(programPath, sourceName, types).key == platform::kErrorSuccess;
}

bool RemoveEventSource(const std::string& sourceName) {
  return platform::RemoveEventSource(sourceName) == platform::kErrorSuccess;
}

}  // namespace kavelo::service
