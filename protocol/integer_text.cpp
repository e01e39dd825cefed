#include "protocol/integer_text.h"

#include <climits>

namespace kavelo::protocol {

int ReadInteger(const char* text, LeadingSpace leading) {
  if (text == nullptr) return 0;
  const char* p = text;
  if (leading == LeadingSpace::kSkipped) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  }
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*p - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace kavelo::protocol
