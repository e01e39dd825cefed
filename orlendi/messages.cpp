#include "orlendi/messages.h"

#include "platform/eventlog.h"

namespace kavelo::orlendi {

namespace {

const platform::MessageEntry kMessages[] = {
    {kMessagePrintFailed, "orlendi: %1\r\n"},
};

}  // namespace

const platform::MessageEntry* MessageTable() { return kMessages; }
size_t MessageTableSize() { return sizeof kMessages / sizeof kMessages[0]; }

}  // namespace kavelo::orlendi
