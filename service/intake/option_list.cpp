#include "service/intake/option_list.h"

#include "common/exceptions.h"
#include "service/intake/text_scanner.h"

namespace kavelo::service {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsQuoteCharacter(char c) { return c == '"' || c == '\''; }
}  // namespace

void OptionList::Parse(const char* text) {
  if (text == nullptr) throw NullPointerException();
  if (*text == '\0') throw IllegalArgumentException();
  TextScanner scanner(text);
  for (;;) {
    try {
      scanner.SkipBlanks();  // onto the first character of the next item
    } catch (const StringIndexOutOfBoundsException&) {
      return;
    }
    try {
      scanner.SetMark();  // the item begins here
      scanner.SkipTo('=');
      char first = scanner.SkipBlanks();  // the first character of the value
      if (IsQuoteCharacter(first)) {
        scanner.SkipQuoted(first);
      } else {
        // The value ends before the next ',' (or at the end of the text),
        // without its trailing blanks.
        try {
          scanner.SkipTo(',');
        } catch (const StringIndexOutOfBoundsException&) {
          scanner.ToEnd();
        }
        scanner.Previous();
        while (IsBlank(scanner.Current())) scanner.Previous();
      }
    } catch (const StringIndexOutOfBoundsException&) {
      // A failed forward move leaves the position at L: no item.
    }
    std::string item = scanner.MarkedText();
    if (!item.empty()) Add(OptionEntry(item.c_str()));
    try {
      scanner.SkipTo(',');  // onto the comma that ends the item
    } catch (const StringIndexOutOfBoundsException&) {
      return;
    }
  }
}

void OptionList::Add(const OptionEntry& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  OptionEntry copy(entry);
  entries_.emplace_back(copy);
}

const OptionEntry* OptionList::Find(const char* name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const OptionEntry& entry : entries_) {
    if (entry.KeyEquals(name)) return &entry;
  }
  return nullptr;
}

bool OptionList::Lookup(const char* name, OptionEntry* entry) const {
  const OptionEntry* found = Find(name);
  if (found == nullptr) return false;
  OptionEntry copy(*found);
  *entry = copy;
  return true;
}

size_t OptionList::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

std::vector<std::pair<std::string, std::string>> OptionList::Items() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<std::string, std::string>> items;
  for (const OptionEntry& entry : entries_) items.emplace_back(entry.key(), entry.value());
  return items;
}

}  // namespace kavelo::service
