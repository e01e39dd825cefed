#include "service/host/command_line.h"

#include <strings.h>

#include <cctype>
#include <climits>

#include "common/exceptions.h"
#include "service/intake/text_scanner.h"

namespace kavelo::service {

namespace {

// The value text of a Hint token: from the first non-blank after its first
// blank to its last character.  False when the token holds no blank or
// nothing but blanks follows it (the scanner leaves the text).
bool HintValueText(const std::string& token, std::string* text) {
  TextScanner scanner(token.c_str());
  try {
    scanner.SkipTo(' ');
    scanner.SkipBlanks();
    scanner.SetMark();
    scanner.ToEnd();
    scanner.Previous();
    *text = scanner.MarkedText();
    return true;
  } catch (const StringIndexOutOfBoundsException&) {
    return false;
  }
}

// Reads a signed decimal like atol: leading white space and a sign, then
// digits up to the first non-digit.  False when the number does not fit a
// signed 32-bit value.
bool ParseSigned32(const std::string& text, int32_t* value) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long number = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > static_cast<long long>(INT32_MAX) + 1) return false;  // stops overflow early
  }
  if (negative) number = -number;
  if (number < INT32_MIN || number > INT32_MAX) return false;
  *value = static_cast<int32_t>(number);
  return true;
}

}  // namespace

std::vector<std::string> SplitCommandTokens(const std::string& commandLine) {
  std::vector<std::string> tokens;
  if (commandLine.empty()) return tokens;
  std::string token;
  for (char ch : commandLine) {
    if (ch == '-' || ch == '/') {
      tokens.push_back(token);
      token.clear();
    } else {
      token += ch;
    }
  }
  tokens.push_back(token);
  return tokens;
}

bool IsHintToken(const std::string& token) {
  return token.size() >= 4 && strncasecmp(token.c_str(), "Hint", 4) == 0;
}

bool ReadHintValue(const std::string& token, uint32_t* waitHint) {
  std::string text;
  int32_t value = 0;
  if (!HintValueText(token, &text) || !ParseSigned32(text, &value)) return false;
  *waitHint = static_cast<uint32_t>(value);
  return true;
}

}  // namespace kavelo::service
