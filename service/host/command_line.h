// The service program's command line: its tokens and the wait hint value.
#ifndef KAVELO_SERVICE_COMMAND_LINE_H_
#define KAVELO_SERVICE_COMMAND_LINE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace kavelo::service {

// Splits the command line at every "-" and "/" (the separators are
// dropped; blanks are not separators and stay in the tokens).  Every piece
// is a token, the empty ones included: "-Hint 90000 -Version" gives "",
// "Hint 90000 " and "Version".
std::vector<std::string> SplitCommandTokens(const std::string& commandLine);

// True when the token's first four characters are "Hint" in any case.
bool IsHintToken(const std::string& token);

// Reads the wait hint from a Hint token: the value runs from the first
// non-blank after the token's first blank to the token's end, read as a
// signed decimal (leading white space and sign, digits up to the first
// non-digit, none: 0).  *waitHint changes only when a value text is found
// and the number fits a signed 32-bit value.  Returns whether it changed.
bool ReadHintValue(const std::string& token, uint32_t* waitHint);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_COMMAND_LINE_H_
