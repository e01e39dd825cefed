// The ordered entries parsed from one print option text, looked up by key.
#ifndef KAVELO_SERVICE_OPTION_LIST_H_
#define KAVELO_SERVICE_OPTION_LIST_H_

#include <list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "service/intake/option_entry.h"

namespace kavelo::service {

// Thread safe: Add takes the list's lock, and so do Find and Lookup.
class OptionList {
 public:
  OptionList() = default;
  OptionList(const OptionList&) = delete;
  OptionList& operator=(const OptionList&) = delete;

  // Adds the entries of a text of comma-separated key=value items.  A
  // malformed item adds nothing and the end of the text ends the parse, so
  // the only exceptions are NullPointerException for a null text,
  // IllegalArgumentException for a text whose first byte is NUL, and
  // IllegalArgumentException from Add for an entry whose key is empty after
  // trimming (the entries added before it remain).
  void Parse(const char* text);

  // Copies entry, then copies that copy into a new element at the end.
  void Add(const OptionEntry& entry);

  // The first entry whose key equals name ignoring case; null when none.
  // The pointer stays valid while the list lives.
  const OptionEntry* Find(const char* name) const;

  // Find; when found, assigns a copy of the found entry to *entry.
  bool Lookup(const char* name, OptionEntry* entry) const;

  size_t size() const;

  // The keys and values in list order, read without copying the entries.
  std::vector<std::pair<std::string, std::string>> Items() const;

 private:
  mutable std::mutex mutex_;
  std::list<OptionEntry> entries_;  // guarded by mutex_
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_OPTION_LIST_H_
