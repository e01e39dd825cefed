// orlendi's message table for the event log.
#ifndef KAVELO_ORLENDI_MESSAGES_H_
#define KAVELO_ORLENDI_MESSAGES_H_

#include <cstddef>
#include <cstdint>

namespace kavelo::platform {
struct MessageEntry;
}  // namespace kavelo::platform

namespace kavelo::orlendi {

// A failure of a print, with its reason as the insertion text.
constexpr uint32_t kMessagePrintFailed = 1;

const platform::MessageEntry* MessageTable();
size_t MessageTableSize();

}  // namespace kavelo::orlendi

#endif  // KAVELO_ORLENDI_MESSAGES_H_
