#include "service/intake/option_entry.h"

#include <strings.h>

#include <cstring>

#include "common/exceptions.h"
#include "service/intake/quoted_text.h"
#include "service/intake/text_scanner.h"

namespace kavelo::service {

namespace {

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string LowerTrimmed(const char* text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  size_t first = 0;
  while (first < out.size() && IsWhiteSpace(out[first])) ++first;
  size_t last = out.size();
  while (last > first && IsWhiteSpace(out[last - 1])) --last;
  return out.substr(first, last - first);
}

bool IsQuoteCharacter(char c) { return c == '"' || c == '\''; }

}  // namespace

OptionEntry::OptionEntry(const char* item) {
  if (item == nullptr) throw NullPointerException();
  if (*item == '\0') throw IllegalArgumentException();
  std::string key;
  std::string value;
  TextScanner scanner(item);
  try {
    // The key runs from the first non-blank to the character before '='.
    scanner.SkipBlanks();
    scanner.SetMark();
    scanner.SkipTo('=');
    scanner.Previous();
    key = scanner.MarkedText();
    scanner.SkipTo('=');
  } catch (const StringIndexOutOfBoundsException&) {
    key = item;
    Set(key.c_str(), value.c_str());
    return;
  }
  try {
    char first = scanner.SkipBlanks();
    scanner.SetMark();
    if (IsQuoteCharacter(first)) {
      scanner.SkipQuoted(first);
      value = StripQuotes(scanner.MarkedText().c_str(), first, first);
    } else {
      scanner.ToEnd();
      scanner.Previous();
      value = scanner.MarkedText();
    }
  } catch (const StringIndexOutOfBoundsException&) {
    // The value stays as it was.
  }
  Set(key.c_str(), value.c_str());
}

OptionEntry::OptionEntry(const OptionEntry& other) {
  std::string key = other.key();
  std::string value = other.value();
  Set(key.c_str(), value.c_str());
}

OptionEntry& OptionEntry::operator=(const OptionEntry& other) {
  if (this == &other) return *this;
  std::string key = other.key();
  std::string value = other.value();
  Set(key.c_str(), value.c_str());
  return *this;
}

void OptionEntry::Set(const char* key, const char* value) {
  if (key == nullptr) throw NullPointerException();
  if (*key == '\0') throw IllegalArgumentException();
  std::string storedKey = LowerTrimmed(key);
  std::string storedValue = CollapseQuotes(value);
  std::lock_guard<std::mutex> lock(mutex_);
  key_ = std::move(storedKey);
  value_ = std::move(storedValue);
}

bool OptionEntry::KeyEquals(const char* name) const {
  if (name == nullptr) throw NullPointerException();
  if (*name == '\0') throw IllegalArgumentException();
  std::lock_guard<std::mutex> lock(mutex_);
  return strcasecmp(key_.c_str(), name) == 0;
}

std::string OptionEntry::key() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return key_;
}

std::string OptionEntry::value() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return value_;
}

}  // namespace kavelo::service
