// One key=value item of a client's print option text.
#ifndef KAVELO_SERVICE_OPTION_ENTRY_H_
#define KAVELO_SERVICE_OPTION_ENTRY_H_

#include <mutex>
#include <string>

namespace kavelo::service {

// The key is stored lower-cased and trimmed of white space; the value is
// stored through CollapseQuotes.  Every copy (construction from another
// entry, assignment) goes through Set again, so the value is collapsed once
// more on each copy.
//
// Thread safe: Set and the copies take the entry's lock.
class OptionEntry {
 public:
  OptionEntry() = default;
  // Parses one item "key = value" (value possibly quoted).  Raises
  // NullPointerException for a null item, IllegalArgumentException for an
  // empty one, or from Set when the key is empty.
  explicit OptionEntry(const char* item);
  OptionEntry(const OptionEntry& other);
  OptionEntry& operator=(const OptionEntry& other);

  // Stores key (lower-cased, trimmed of space, tab, CR, LF, VT, FF at both
  // ends) and value (collapsed; null or empty stores the empty text).
  // Raises NullPointerException for a null key, IllegalArgumentException
  // for an empty one (tested before trimming).
  void Set(const char* key, const char* value);

  // True when the key equals name, ignoring letter case.  Raises
  // NullPointerException / IllegalArgumentException for a null / empty name.
  bool KeyEquals(const char* name) const;

  std::string key() const;
  std::string value() const;

 private:
  mutable std::mutex mutex_;
  std::string key_;    // guarded by mutex_
  std::string value_;  // guarded by mutex_
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_OPTION_ENTRY_H_
