#include "printcontrol/render/xml_escape.h"

#include <cstdio>
#include <cstring>

namespace kavelo::printcontrol {

namespace {

// The escaped form of one character into form (at least 16 bytes).
void FormOf(unsigned long codePoint, char* form, size_t size) {
  switch (codePoint) {
    case 0x09:
      std::snprintf(form, size, "&#9;");
      return;
    case 0x0D:
      std::snprintf(form, size, "&#13;");
      return;
    case 0x27:
      std::snprintf(form, size, "&apos;");
      return;
    case 0x26:
      std::snprintf(form, size, "&amp;");
      return;
    case 0x22:
      std::snprintf(form, size, "&quot;");
      return;
    case 0x3C:
      std::snprintf(form, size, "&lt;");
      return;
    case 0x3E:
      std::snprintf(form, size, "&gt;");
      return;
    case 0x0A:
      std::snprintf(form, size, "\n");
      return;
    default:
      break;
  }
  if (codePoint >= 0x20 && codePoint <= 0x7F) {
    form[0] = static_cast<char>(codePoint);
    form[1] = '\0';
    return;
  }
  std::snprintf(form, size, "&#%lu;", codePoint);
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

void EscapeXmlText(const char16_t* source, char* destination, size_t destinationSize,
                   size_t limit) {
  if (destination == nullptr || destinationSize == 0) return;
  destination[0] = '\0';
  if (source == nullptr || limit <= 1) return;
  size_t units = 0;
  while (units < limit - 1 && source[units] != 0) ++units;

  size_t used = 0;
  for (size_t i = 0; i < units; ++i) {
    unsigned long codePoint = source[i];
    if (IsHighSurrogate(source[i]) && i + 1 < units && IsLowSurrogate(source[i + 1])) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (source[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(source[i]) || IsLowSurrogate(source[i])) {
      codePoint = 0xFFFD;
    }
    char form[16];
    FormOf(codePoint, form, sizeof(form));
    size_t formLength = std::strlen(form);
    if (used + formLength + 1 > destinationSize) break;
    std::memcpy(destination + used, form, formLength);
    used += formLength;
  }
  destination[used] = '\0';
}

}  // namespace kavelo::printcontrol
