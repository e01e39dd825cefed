#include "printcontrol/render/xml_exception.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kavelo::printcontrol {

XmlException::XmlException(const char* message) { CopyLimited(message_, message, kMaxMessage); }

XmlException XmlException::Format(const char* format, ...) {
  XmlException e;
  va_list args;
  va_start(args, format);
  // vsnprintf cuts at the buffer's end and always terminates.
  vsnprintf(e.message_, sizeof(e.message_), format, args);
  va_end(args);
  return e;
}

void CopyLimited(char* buffer, const char* text, int limit) {
  if (text == nullptr || limit <= 0) {
    if (limit >= 0) buffer[0] = '\0';
    return;
  }
  size_t n = strnlen(text, static_cast<size_t>(limit));
  memcpy(buffer, text, n);
  buffer[n] = '\0';
}

}  // namespace kavelo::printcontrol
