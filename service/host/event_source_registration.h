// The service's registration of its event source, written by
// platform/eventlog.h: the source counts as registered once its key exists,
// a value that could not be written is no failure.
#ifndef KAVELO_SERVICE_EVENT_SOURCE_REGISTRATION_H_
#define KAVELO_SERVICE_EVENT_SOURCE_REGISTRATION_H_

#include <cstdint>
#include <string>

#include "platform/eventlog.h"

namespace kavelo::service {

using platform::EventSourceKeyPath;
using platform::kEventTypesSupported;

// Registers the source (platform::AddEventSource).  Returns true when its
// key could be created or opened, whatever became of the two values; false
// for a source name that is empty or holds "\" (nothing is written).
bool AddEventSource(const std::string& programPath, const std::string& sourceName, uint32_t types);

// Deletes the source's key.  Returns true on success (false also when the
// source was not registered).
bool RemoveEventSource(const std::string& sourceName);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_EVENT_SOURCE_REGISTRATION_H_
