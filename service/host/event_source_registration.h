// Registration of an event source in the registry, below
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\Application:
// the program whose message table gives the texts (EventMessageFile) and the
// event types it reports (TypesSupported).
#ifndef KAVELO_SERVICE_EVENT_SOURCE_REGISTRATION_H_
#define KAVELO_SERVICE_EVENT_SOURCE_REGISTRATION_H_

#include <cstdint>
#include <string>

namespace kavelo::service {

// The key path of a source's registration below HKEY_LOCAL_MACHINE.
std::string EventSourceKeyPath(const std::string& sourceName);

// Error, warning and information: the types TypesSupported names.
constexpr uint32_t kEventTypesSupported = 7;

// Creates or opens the source's key and writes EventMessageFile
// (REG_EXPAND_SZ: programPath with its terminating NUL) and TypesSupported
// (REG_DWORD: types).  Returns true when the key could be created or opened.
// A source name that is empty or holds "\" names no single key: false, and
// nothing is written.
bool AddEventSource(const std::string& programPath, const std::string& sourceName, uint32_t types);

// Deletes the source's key.  Returns true on success (false also when the
// source was not registered).
bool RemoveEventSource(const std::string& sourceName);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_EVENT_SOURCE_REGISTRATION_H_
