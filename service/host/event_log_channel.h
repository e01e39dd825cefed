// EventLogChannel: the reporting object through which the service's threads
// write numbered events under their event source.
#ifndef KAVELO_SERVICE_EVENT_LOG_CHANNEL_H_
#define KAVELO_SERVICE_EVENT_LOG_CHANNEL_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/eventlog.h"

namespace kavelo::service {

class EventLogChannel {
 public:
  EventLogChannel() = default;
  ~EventLogChannel();
  EventLogChannel(const EventLogChannel&) = delete;
  EventLogChannel& operator=(const EventLogChannel&) = delete;

  // Registers the event source sourceName on server (null or empty: the
  // local machine) and keeps the handle; a handle held before is released.
  // Throws NullPointerException for a null name and IllegalArgumentException
  // for an empty one.  Returns whether a handle was obtained.
  bool Register(const char* sourceName, const char* server = nullptr);

  // Writes one event with message id and the insertion texts: the non-null
  // ones among text1..text3, counted from the first (a null ends them).
  // Returns the event log's result, or false without reporting anything
  // when no source is registered.  Thread safe, also against Register and
  // Deregister.
  bool Report(platform::EventType type, uint32_t messageId, const char* text1 = nullptr,
              const char* text2 = nullptr, const char* text3 = nullptr);

  // Releases the handle, if any.
  void Deregister();

  bool IsRegistered() const;
  // The source name given to the last Register.
  std::string sourceName() const;

 private:
  mutable std::mutex mutex_;
  // Guarded by mutex_.  Shared so that a report in progress keeps its source
  // alive while another thread deregisters.
  std::shared_ptr<platform::EventSource> source_;
  std::string sourceName_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_EVENT_LOG_CHANNEL_H_
