// A cursor over a NUL-terminated text with a position and a mark, and the
// moves the option parser and the service's command line need.
#ifndef KAVELO_SERVICE_TEXT_SCANNER_H_
#define KAVELO_SERVICE_TEXT_SCANNER_H_

#include <cstdint>
#include <string>

namespace kavelo::service {

// The scanner does not copy its text: *text must stay alive and unchanged
// while the scanner is in use.  Its length L is the number of bytes before
// the first NUL.  The position runs from -1 (before the first character) to L
// (after the last); every range test compares with L as unsigned numbers, so
// -1 counts as outside the text.  An operation that needs a character or an
// index outside the text raises StringIndexOutOfBoundsException.
//
// Not thread safe: one thread at a time.
class TextScanner {
 public:
  // Raises NullPointerException for a null text.  Position -1, mark 0.
  explicit TextScanner(const char* text);

  // The character at the position.  Outside the text: position = L, raise.
  char Current();
  // Moves one forward, then Current.  Raising leaves the position at L.
  char Next();
  // Moves one back, then Current.  Raising leaves the position at -1.
  char Previous();
  // Moves forward (passing over the current character) to the next ch.
  // When the text ends first: position = L, raise.
  void SkipTo(char ch);
  // Moves forward over spaces and tabs and returns the first other
  // character, on which the position then stands.  When the text ends
  // first: position = L, raise.
  char SkipBlanks();
  // Marks the position; returns the old mark.  Raises outside the text.
  int32_t SetMark();
  // Marks index i; returns the old mark.  Raises outside the text.
  int32_t SetMarkAt(int32_t i);
  // The mark; raises when it is outside the text.
  int32_t GetMark() const;
  void ToStart() { position_ = -1; }
  void ToEnd() { position_ = length_; }
  // Characters from the smaller of position and mark to the larger, both
  // included; 0 when the position is outside the text.
  int32_t MarkedLength() const;
  // Those characters; empty when MarkedLength is 0.
  std::string MarkedText() const;
  // With the position on an opening quote q: moves to the last closing quote
  // of the value, taking pieces that follow separated only by blanks (or a
  // doubled quote) as part of it; the mark ends as it was.  Raises
  // IllegalArgumentException when Current is not q, and
  // StringIndexOutOfBoundsException (position L) when no closing quote
  // follows.
  void SkipQuoted(char q);

  int32_t position() const { return position_; }
  int32_t length() const { return length_; }

 private:
  bool InText(int32_t i) const { return static_cast<uint32_t>(i) < static_cast<uint32_t>(length_); }

  const char* text_;
  int32_t length_;
  int32_t position_ = -1;
  int32_t mark_ = 0;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_TEXT_SCANNER_H_
