#include "printcontrol/job/text_field.h"

namespace kavelo::printcontrol {

bool CopyText(char* field, size_t size, const char* source) {
  return CopyText(field, size, source, static_cast<size_t>(-1));
}

bool CopyText(char* field, size_t size, const char* source, size_t length) {
  if (field == nullptr || size == 0) return false;
  if (source == nullptr) {
    field[0] = '\0';
    return true;
  }
  size_t n = 0;
  while (n < length && n + 1 < size && source[n] != '\0') {
    field[n] = source[n];
    ++n;
  }
  field[n] = '\0';
  return n == length || source[n] == '\0';
}

}  // namespace kavelo::printcontrol
