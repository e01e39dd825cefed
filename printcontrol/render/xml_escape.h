// Escaping of text from the XML libraries into single-byte XML text.
#ifndef KAVELO_PRINTCONTROL_XML_ESCAPE_H_
#define KAVELO_PRINTCONTROL_XML_ESCAPE_H_

#include <cstddef>

namespace kavelo::printcontrol {

// Converts at most limit - 1 UTF-16 code units of source (the XML library's
// XMLCh text; null allowed) into escaped single-byte text:
//   tab "&#9;", carriage return "&#13;", "'" "&apos;", "&" "&amp;",
//   '"' "&quot;", "<" "&lt;", ">" "&gt;", line feed itself, other control
//   bytes and 0x80..0xFF "&#N;" with the decimal value, 0x20..0x7F itself.
// A code unit at or above U+0100 has no single-byte form; it is written as
// the numeric reference of its code point ("&#8364;"), a surrogate pair as
// one reference of the character it forms, and a lone surrogate as "&#65533;"
// (the replacement character).
// destination (destinationSize bytes) is always terminated and never written
// beyond; when the escaped text does not fit it ends before the first form
// that does not fit whole, so no reference is ever cut in half.
void EscapeXmlText(const char16_t* source, char* destination, size_t destinationSize, size_t limit);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_XML_ESCAPE_H_
