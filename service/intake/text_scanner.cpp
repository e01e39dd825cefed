#include "service/intake/text_scanner.h"

#include <cstring>

#include "common/exceptions.h"

namespace kavelo::service {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

TextScanner::TextScanner(const char* text) {
  if (text == nullptr) throw NullPointerException();
  text_ = text;
  length_ = static_cast<int32_t>(std::strlen(text));
}

char TextScanner::Current() {
  if (!InText(position_)) {
    position_ = length_;
    throw StringIndexOutOfBoundsException();
  }
  return text_[position_];
}

char TextScanner::Next() {
  ++position_;
  try {
    return Current();
  } catch (const StringIndexOutOfBoundsException&) {
    position_ = length_;
    throw;
  }
}

char TextScanner::Previous() {
  --position_;
  try {
    return Current();
  } catch (const StringIndexOutOfBoundsException&) {
    position_ = -1;
    throw;
  }
}

void TextScanner::SkipTo(char ch) {
  while (Next() != ch) {
  }
}

char TextScanner::SkipBlanks() {
  char c;
  do {
    c = Next();
  } while (IsBlank(c));
  return c;
}

int32_t TextScanner::SetMark() {
  if (!InText(position_)) throw StringIndexOutOfBoundsException();
  return SetMarkAt(position_);
}

int32_t TextScanner::SetMarkAt(int32_t i) {
  if (!InText(i)) throw StringIndexOutOfBoundsException();
  int32_t old = mark_;
  mark_ = i;
  return old;
}

int32_t TextScanner::GetMark() const {
  if (!InText(mark_)) throw StringIndexOutOfBoundsException();
  return mark_;
}

int32_t TextScanner::MarkedLength() const {
  if (!InText(position_)) return 0;
  int32_t distance = position_ > mark_ ? position_ - mark_ : mark_ - position_;
  return distance + 1;
}

std::string TextScanner::MarkedText() const {
  int32_t count = MarkedLength();
  if (count <= 0) return std::string();
  int32_t first = position_ < mark_ ? position_ : mark_;
  return std::string(text_ + first, static_cast<size_t>(count));
}

void TextScanner::SkipQuoted(char q) {
  if (Current() != q) throw IllegalArgumentException();
  // The mark stands on the opening quote now; saved is the caller's mark.
  int32_t saved = SetMark();
  SkipTo(q);  // no closing quote: leaves with the position at L
  int32_t last = 0;
  try {
    for (;;) {
      SetMark();
      last = GetMark();
      // A quote right after blanks (or a doubled quote) continues the value.
      if (SkipBlanks() != q) break;
      SkipTo(q);
    }
  } catch (const StringIndexOutOfBoundsException&) {
    // The text ended after a closing quote: the value ends there.
  }
  SetMarkAt(saved);
  position_ = last;
}

}  // namespace kavelo::service
