// Fixed text fields: the print control keeps its texts in fields of a set
// size that are always terminated, and a text that does not fit is cut.
#ifndef KAVELO_PRINTCONTROL_TEXT_FIELD_H_
#define KAVELO_PRINTCONTROL_TEXT_FIELD_H_

#include <cstddef>

namespace kavelo::printcontrol {

// Copies source into a field of size bytes (size >= 1), cutting it to
// size - 1 characters; the field is always terminated.  Null source empties
// the field.  Returns false when the text was cut.
bool CopyText(char* field, size_t size, const char* source);

// Copies at most length characters of source (stopping at its NUL) into a
// field of size bytes, cut and terminated as CopyText.
bool CopyText(char* field, size_t size, const char* source, size_t length);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_TEXT_FIELD_H_
