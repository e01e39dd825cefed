// Text functions for values that may be enclosed in quote characters.
#ifndef KAVELO_SERVICE_QUOTED_TEXT_H_
#define KAVELO_SERVICE_QUOTED_TEXT_H_

#include <string>

namespace kavelo::service {

// True when text has 3 or more characters, begins with open and ends with
// close (a bare pair of quotes is not a quoted value).  Raises
// NullPointerException for a null text, IllegalArgumentException for an
// empty one.
bool IsQuoted(const char* text, char open, char close);

// text without its first and last character when IsQuoted holds, otherwise
// text unchanged.  Same exceptions as IsQuoted.
std::string StripQuotes(const char* text, char open, char close);

// Copies value, keeping only the first of each run of equal quote
// characters taken in pairs: a double quote or an apostrophe is copied when
// its own flag is clear and then toggles that flag; any other character is
// copied and clears both flags.  So '' becomes ', and a run of k equal
// quotes becomes ceil(k/2).  A null value gives the empty text.
std::string CollapseQuotes(const char* value);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_QUOTED_TEXT_H_
