#include "service/host/event_log_channel.h"

#include <vector>

#include "common/exceptions.h"

namespace kavelo::service {

EventLogChannel::~EventLogChannel() { Deregister(); }

bool EventLogChannel::Register(const char* sourceName, const char* server) {
  if (sourceName == nullptr) throw NullPointerException();
  if (*sourceName == '\0') throw IllegalArgumentException();
  std::shared_ptr<platform::EventSource> source =
      platform::RegisterEventSource(server ? server : "", sourceName);
  std::lock_guard<std::mutex> lock(mutex_);
  sourceName_ = sourceName;
  source_ = std::move(source);
  return source_ != nullptr;
}

bool EventLogChannel::Report(platform::EventType type, uint32_t messageId, const char* text1,
                             const char* text2, const char* text3) {
  std::shared_ptr<platform::EventSource> source;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    source = source_;
  }
  if (!source) return false;
  std::vector<std::string> strings;
  for (const char* text : {text1, text2, text3}) {
    if (text == nullptr) break;
    strings.emplace_back(text);
  }
  return platform::ReportEvent(source.get(), type, 0, messageId, strings);
}

void EventLogChannel::Deregister() {
  std::lock_guard<std::mutex> lock(mutex_);
  source_.reset();
}

bool EventLogChannel::IsRegistered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return source_ != nullptr;
}

std::string EventLogChannel::sourceName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sourceName_;
}

}  // namespace kavelo::service
