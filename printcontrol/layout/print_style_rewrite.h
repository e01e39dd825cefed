// The print-style copy of a stylesheet: the font family, font size and line
// height of the body and h1 rules in its first "@media print" block are
// replaced by the job's values; every other byte is copied as it is.
#ifndef KAVELO_PRINTCONTROL_PRINT_STYLE_REWRITE_H_
#define KAVELO_PRINTCONTROL_PRINT_STYLE_REWRITE_H_

#include <cstddef>
#include <string>

namespace kavelo::printcontrol {

// The copy's path for a stylesheet path: a final ".xsl" (only in a path of
// more than four characters) is replaced by "st.xsl", any other path gets
// "st.xsl" appended.
std::string PrintStyleCopyPath(const char* xslPath);

// Rewrites one declaration block ("{...}"): the value of every
// "font-family:", "font-size:" and "line-height:" (any letter case) whose
// new value is not empty is replaced by "\"NAME\"", "SIZEpt" and "HEIGHTem".
// A value runs to its ";" or, for the last declaration, to the block's
// closing brace (the new value then gets its own ";").
std::string RewriteDeclarations(const std::string& declarations, const char* fontName,
                                const char* fontSize, const char* lineHeight);

// Rewrites a print block (the text after "@media print" up to its closing
// brace): each rule named "body" or "h1" (any letter case) gets
// RewriteDeclarations.  *changes counts the rules that changed.  False when a
// rule's declaration block is not closed.
bool RewritePrintBlock(const std::string& block, const char* fontName, const char* fontSize,
                       const char* lineHeight, std::string* rewritten, int* changes);

// Writes the print-style copy of the stylesheet at xslPath.  copyPath
// (copyPathSize bytes) receives the copy's path before the work starts.
// 0 when the copy was written; -1 when the path is empty, all three values
// are empty, the stylesheet cannot be read, has no complete print block or
// no rule in it changes, or the copy cannot be written (no copy is left
// then).  The stylesheet itself is never changed.
int RewritePrintStyle(const char* xslPath, char* copyPath, size_t copyPathSize,
                      const char* fontName, const char* fontSize, const char* lineHeight);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINT_STYLE_REWRITE_H_
