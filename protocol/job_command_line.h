// The print control's job command line: the service formats it, the print
// control parses it.
//   "PROGRAM" "PROGRAM" xml=X;xsl=Y;fromPage=N;toPage=N;printerName=P;copy=N;orien=N
// The system splits the unquoted key part at blanks into several arguments;
// the print control joins them again with single blanks (JoinArguments).
#ifndef KAVELO_PROTOCOL_JOB_COMMAND_LINE_H_
#define KAVELO_PROTOCOL_JOB_COMMAND_LINE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavelo::protocol {

// The print control holds the joined text in a field of this size (at most
// 1023 characters) and each value in one of kJobValueSize (at most 511).
constexpr size_t kJobCommandLineSize = 1024;
constexpr size_t kJobValueSize = 512;

// Formats the line with the print control's program path twice.  Texts are
// written as they are.
std::string FormatJobCommandLine(const std::string& printerApplication, const std::string& xmlPath,
                                 const std::string& xslPath, const std::string& printerName,
                                 int32_t orientation, int32_t copies, int32_t fromPage,
                                 int32_t toPage);

// Result of reading a key's value into a fixed field.
enum class KeyValue {
  kFound,    // the whole value is in the field (it may be empty: "xml=;")
  kMissing,  // the key does not occur; the field is empty
  kTooLong,  // the value does not fit the field; the field is empty
};

// Reads key (case-sensitive) from the text: the key is found at the first
// occurrence of its name directly followed by "=", and its value runs from
// after "=" to the next ";" or the end of the text.
KeyValue FindKeyValue(const char* text, const char* key, char* value, size_t size);

// The same on a text of any length, the value uncut: true with *value set
// when the key occurs.
bool FindKeyValueText(const std::string& text, const char* key, std::string* value);

// Reads printerName: its value runs from after "printerName=" to the first
// ";copy" behind it or the end of the text, so it may hold blanks and ";".
KeyValue FindPrinterName(const char* text, char* value, size_t size);

// The same on a text of any length, the value uncut.
bool FindPrinterNameText(const std::string& text, std::string* value);

// Reads key as an optionally signed decimal integer that stops at the first
// character that is not a digit; a missing key or text that is not a number
// reads as 0.
int FindKeyNumber(const char* text, const char* key);

}  // namespace kavelo::protocol

#endif  // KAVELO_PROTOCOL_JOB_COMMAND_LINE_H_
