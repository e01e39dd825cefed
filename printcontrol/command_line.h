// The job command line of the print control, as the service writes it:
//   "PROGRAM" "PROGRAM" xml=X;xsl=Y;fromPage=N;toPage=N;printerName=P;copy=N;orien=N
// The system splits the unquoted key part at blanks into several arguments;
// BuildCommandLine joins them again with single blanks.
#ifndef KAVELO_PRINTCONTROL_COMMAND_LINE_H_
#define KAVELO_PRINTCONTROL_COMMAND_LINE_H_

#include <cstddef>
#include <string>

namespace kavelo {

// The size of the command-line text field (at most 1023 characters).
constexpr size_t kCommandLineSize = 1024;
// The size of a key value field (at most 511 characters).
constexpr size_t kValueSize = 512;

// Joins argv[1] .. argv[argc-1] with single blanks; an empty argument
// contributes nothing, not even a blank.
std::string JoinArguments(int argc, const char* const* argv);

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

// Reads key as an optionally signed decimal integer that stops at the first
// character that is not a digit; a missing key or text that is not a number
// reads as 0.
int FindKeyNumber(const char* text, const char* key);

// The directory of the print control's own program: programPath (the
// running executable) up to its last "/"; when programPath is empty, the text
// before the first occurrence of "Ostrevo" (any letter case) in the command
// line, with one trailing "/" removed.  Returns false, with directory empty,
// when neither gives a directory or it does not fit.
bool FindUtilityDirectory(const char* programPath, const char* commandLine, char* directory,
                          size_t size);

}  // namespace kavelo

#endif  // KAVELO_PRINTCONTROL_COMMAND_LINE_H_
