#include "printcontrol/job/ascii_text.h"

#include <cstring>

namespace kavelo::printcontrol {

namespace {

char LowerOf(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool LowerAscii(char* text) {
  if (text == nullptr) return false;
  bool changed = false;
  for (char* p = text; *p != '\0'; ++p) {
    if (*p >= 'A' && *p <= 'Z') {
      *p = LowerOf(*p);
      changed = true;
    }
  }
  return changed;
}

void TrimLeadingBlanks(char* text) {
  if (text == nullptr) return;
  size_t blanks = 0;
  while (text[blanks] == ' ') ++blanks;
  if (blanks == 0 || text[blanks] == '\0') return;
  std::memmove(text, text + blanks, std::strlen(text + blanks) + 1);
}

bool EqualsIgnoreCase(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  while (*a != '\0' && LowerOf(*a) == LowerOf(*b)) {
    ++a;
    ++b;
  }
  return LowerOf(*a) == LowerOf(*b);
}

const char* FindIgnoreCase(const char* text, const char* needle) {
  if (text == nullptr || needle == nullptr) return nullptr;
  size_t n = std::strlen(needle);
  for (const char* p = text; *p != '\0'; ++p) {
    size_t i = 0;
    while (i < n && p[i] != '\0' && LowerOf(p[i]) == LowerOf(needle[i])) ++i;
    if (i == n) return p;
  }
  return n == 0 ? text : nullptr;
}

}  // namespace kavelo::printcontrol
