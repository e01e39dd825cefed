// Small text helpers of the print control.  Texts are NUL-terminated
// single-byte strings; letter case means ASCII letters only.
#ifndef KAVELO_PRINTCONTROL_TEXT_HELPERS_H_
#define KAVELO_PRINTCONTROL_TEXT_HELPERS_H_

#include <cstddef>

namespace kavelo::printcontrol {

// Turns "A".."Z" into small letters in place.  Returns whether anything
// changed.  Null is allowed.
bool LowerAscii(char* text);

// Removes the leading blanks (0x20) in place.  A text made only of blanks
// stays as it is.  Null is allowed.
void TrimLeadingBlanks(char* text);

// Copies source into a field of size bytes (size >= 1), cutting it to
// size - 1 characters; the field is always terminated.  Null source empties
// the field.  Returns false when the text was cut.
bool CopyText(char* field, size_t size, const char* source);

// Copies at most length characters of source (stopping at its NUL) into a
// field of size bytes, cut and terminated as CopyText.
bool CopyText(char* field, size_t size, const char* source, size_t length);

// Equality of two texts ignoring ASCII letter case; null equals only null.
bool EqualsIgnoreCase(const char* a, const char* b);

// The first occurrence of needle in text ignoring ASCII letter case, or null.
const char* FindIgnoreCase(const char* text, const char* needle);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_TEXT_HELPERS_H_
