// Reading the print style of a stylesheet: the font family, font size and
// line height of the body rule inside its first "@media print" block.  The
// stylesheet is read as bytes; it is not parsed as XML or CSS.
#ifndef KAVELO_PRINTCONTROL_PRINT_STYLE_H_
#define KAVELO_PRINTCONTROL_PRINT_STYLE_H_

#include <cstddef>
#include <string>

namespace kavelo::printcontrol {

class ByteReader;

// The print style fields, each a text field of fieldSize bytes.
struct PrintStyleFields {
  char* fontFamily = nullptr;
  char* fontSize = nullptr;    // number only: a final "pt" is removed
  char* lineHeight = nullptr;  // number only: a final "em" is removed
  size_t fieldSize = 0;
};

// Reads the print style of the stylesheet at xslPath into the fields.  An
// empty path leaves them as they are; otherwise they are emptied first and
// the reading ends quietly at the first missing piece (no file, no
// "@media print" with exactly one blank, no body rule, no closing brace).
// A property named again overwrites the earlier value; "font-family" takes
// the text between the first pair of double quotes only.
void ReadPrintStyle(const char* xslPath, const PrintStyleFields& fields);

// Reads bytes until the bytes read so far end with "@media print" (any
// letter case, exactly one blank); they go to *prefix when it is given.
// Every byte counts, 0xFF too.  False at the end of the file or a read
// error first.
bool ReadUpToPrintBlock(ByteReader* reader, std::string* prefix);

// Reads the block after "@media print" up to its closing brace, counting
// braces (a "}" ends the block when fewer than two are open), into *block,
// the brace included.  False at the end of the file or a read error first.
bool ReadPrintBlock(ByteReader* reader, std::string* block);

// The index of the brace that closes the one at text[open], counting nested
// braces, or npos.
size_t MatchingBrace(const std::string& text, size_t open);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINT_STYLE_H_
