// StringList: the print control's text container, in one of two kinds chosen
// when it is made:
//   "string1"  one growing text (the builder for long texts);
//   "string2"  an ordered list of owned texts.
// Any other type text makes a list on which every operation does nothing and
// reports 0 or null.  Not thread safe; one owner at a time.
#ifndef KAVELO_PRINTCONTROL_STRING_LIST_H_
#define KAVELO_PRINTCONTROL_STRING_LIST_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kavelo::printcontrol {

class StringList {
 public:
  static constexpr int kKindNone = 0;
  static constexpr int kKindText = 1;  // "string1"
  static constexpr int kKindList = 2;  // "string2"
  // A kind-2 list grows by this many slots when it is full.
  static constexpr int kSlotStep = 50;
  // A kind-1 text that outgrows its block gets this much room beyond the need.
  static constexpr size_t kTextSlack = 1024;

  // typeText: "string1" or "string2" (case matters); null or anything else
  // gives kind 0.
  explicit StringList(const char* typeText);
  ~StringList();
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;
  StringList(StringList&& other) noexcept;
  StringList& operator=(StringList&& other) noexcept;

  int kind() const { return kind_; }
  // Kind 1: bytes of the text block; kind 2: slots.
  int capacity() const { return capacity_; }

  // Kind 1.  Appends one character; a zero character appends nothing.
  void AppendChar(char c);
  // Kind 1.  Appends a text; null or empty is ignored.
  void Append(const char* text);
  // Kind 1.  Appends length bytes of text (no NUL may be among them).
  void Append(const char* text, size_t length);
  // Kind 1.  The text, or null before the first append (and for other kinds).
  const char* Text() const;

  // Kind 1: length of the text (0 while absent); kind 2: number of items;
  // kind 0: 0.
  int Length() const;
  int Count() const { return Length(); }

  // Kind 2.  Adds a copy of text at the end (null is ignored).  Returns the
  // new count (the unchanged count for null; 0 for other kinds).
  int Push(const char* text);
  // Kind 2.  Removes the last item, if any.
  void PopLast();
  // Kind 2.  The item at index 0 .. count-1, else null.  The pointer stays
  // valid until the item is removed or the list is cleared.
  const char* Item(int index) const;
  // Kind 2.  Pushes a copy of every item of another kind-2 list.
  void AppendAll(const StringList& other);
  // Kind 2.  Pushes text unless an item is equal to it (case-sensitive).
  // Returns 0 when it was already there (or text is null), else the new count.
  int PushUnique(const char* text);
  // Kind 2.  Index of the first item equal to text ignoring letter case; -1
  // when absent or when text is null or empty.
  int IndexOf(const char* text) const;

  // Frees all texts; capacity and count become 0, the kind stays.
  void Clear();

 private:
  void Reserve(size_t needed);

  int kind_ = kKindNone;
  int capacity_ = 0;
  // Kind 1: the text block (null until the first append) and its length.
  std::unique_ptr<char[]> text_;
  size_t length_ = 0;
  // Kind 2: the items, each an owned text; each item is its own heap block so
  // that a pointer given out by Item() survives later pushes.
  std::vector<std::unique_ptr<char[]>> items_;
};

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_STRING_LIST_H_
