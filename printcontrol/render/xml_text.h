// Conversions of the XML library's UTF-16 text into the print control's
// byte texts.
#ifndef KAVELO_PRINTCONTROL_XML_TEXT_H_
#define KAVELO_PRINTCONTROL_XML_TEXT_H_

#include <cstddef>
#include <string>

namespace kavelo::printcontrol {

// Converts at most `count` code units of `text` (stops early at a NUL) into
// single-byte ISO 8859-1 text in `dest`, which holds `capacity` bytes: at most
// capacity - 1 bytes are written, then a terminating NUL.  A code unit at or
// above 256 has no single-byte form and becomes '?'.  A null text gives "".
// Returns the number of bytes written (without the NUL).
size_t NarrowXmlText(const char16_t* text, size_t count, char* dest, size_t capacity);

// How AppendXmlUtf8 treats markup characters.
enum class XmlEscape {
  kNone,       // names: copied as they are
  kText,       // character data: & < > and a carriage return as references
  kAttribute,  // attribute values in double quotes: & < " tab, LF, CR as references
};

// Appends `count` code units of `text` to `out` in UTF-8 (surrogate pairs
// joined, a lone surrogate becomes U+FFFD), escaping markup as `escape` says,
// so that the result reads back as the same characters.
void AppendXmlUtf8(const char16_t* text, size_t count, XmlEscape escape, std::string* out);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_XML_TEXT_H_
