// Decoding of the HTML entity references that report header texts use.
#ifndef KAVELO_PRINTCONTROL_HTML_ENTITIES_H_
#define KAVELO_PRINTCONTROL_HTML_ENTITIES_H_

#include <cstddef>

namespace kavelo::printcontrol {

// Replaces the known entity references of a single-byte (ISO 8859-1) text by
// the bytes they stand for, in one pass: "&nbsp;" (an ordinary blank),
// "&amp;", "&lt;", "&gt;", "&#153;" and the 64 HTML 4 Latin-1 names of the
// code points 192..255 ("&Agrave;" .. "&yuml;").  Matching is exact and
// case-sensitive; every other reference is left as it stands.
// destination (destinationSize bytes) is emptied first and receives at most
// destinationSize - 1 characters of the result, always terminated.
void DecodeHtmlEntities(const char* source, char* destination, size_t destinationSize);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_HTML_ENTITIES_H_
