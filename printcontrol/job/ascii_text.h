// Letter case and blanks of the print control's texts.  Texts are
// NUL-terminated single-byte strings; letter case means ASCII letters only.
#ifndef KAVELO_PRINTCONTROL_ASCII_TEXT_H_
#define KAVELO_PRINTCONTROL_ASCII_TEXT_H_

namespace kavelo::printcontrol {

// Turns "A".."Z" into small letters in place.  Returns whether anything
// changed.  Null is allowed.
bool LowerAscii(char* text);

// Removes the leading blanks (0x20) in place.  A text made only of blanks
// stays as it is.  Null is allowed.
void TrimLeadingBlanks(char* text);

// Equality of two texts ignoring ASCII letter case; null equals only null.
bool EqualsIgnoreCase(const char* a, const char* b);

// The first occurrence of needle in text ignoring ASCII letter case, or null.
const char* FindIgnoreCase(const char* text, const char* needle);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_ASCII_TEXT_H_
