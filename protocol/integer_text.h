// Decimal integers in command-line values, report headers and registry
// texts, read as the C runtime's atoi reads them.
#ifndef KAVELO_PROTOCOL_INTEGER_TEXT_H_
#define KAVELO_PROTOCOL_INTEGER_TEXT_H_

namespace kavelo::protocol {

// Whether white space before the number is skipped (atoi) or ends it.
enum class LeadingSpace { kSkipped, kEndsTheNumber };

// Reads an optionally signed decimal integer: digits up to the first other
// character, 0 when there is none (or text is null).  Values beyond the
// 32-bit range are held at its ends.
int ReadInteger(const char* text, LeadingSpace leading = LeadingSpace::kSkipped);

}  // namespace kavelo::protocol

#endif  // KAVELO_PROTOCOL_INTEGER_TEXT_H_
