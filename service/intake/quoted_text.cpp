#include "service/intake/quoted_text.h"

#include <cstring>

#include "common/exceptions.h"

namespace kavelo::service {

namespace {
size_t CheckedLength(const char* text) {
  if (text == nullptr) throw NullPointerException();
  size_t length = std::strlen(text);
  if (length == 0) throw IllegalArgumentException();
  return length;
}
}  // namespace

bool IsQuoted(const char* text, char open, char close) {
  size_t length = CheckedLength(text);
  return length > 2 && text[0] == open && text[length - 1] == close;
}

std::string StripQuotes(const char* text, char open, char close) {
  size_t length = CheckedLength(text);
  if (!IsQuoted(text, open, close)) return std::string(text, length);
  return std::string(text + 1, length - 2);
}

std::string CollapseQuotes(const char* value) {
  std::string out;
  if (value == nullptr) return out;
  bool doubleQuoteSeen = false;
  bool apostropheSeen = false;
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p == '"') {
      if (!doubleQuoteSeen) out.push_back(*p);
      doubleQuoteSeen = !doubleQuoteSeen;
    } else if (*p == '\'') {
      if (!apostropheSeen) out.push_back(*p);
      apostropheSeen = !apostropheSeen;
    } else {
      out.push_back(*p);
      doubleQuoteSeen = false;
      apostropheSeen = false;
    }
  }
  return out;
}

}  // namespace kavelo::service
