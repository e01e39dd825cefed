// The print control's view of its job command line: the field sizes it
// reads into and the folder of its own program.  The format and the key
// parse live in protocol/job_command_line.h, beside the service's format.
#ifndef KAVELO_PRINTCONTROL_COMMAND_LINE_H_
#define KAVELO_PRINTCONTROL_COMMAND_LINE_H_

#include <cstddef>
#include <string>

#include "protocol/arguments.h"
#include "protocol/job_command_line.h"

namespace kavelo::printcontrol {

using protocol::FindKeyNumber;
using protocol::FindKeyValue;
using protocol::FindKeyValueText;
using protocol::FindPrinterName;
using protocol::JoinArguments;
using protocol::KeyValue;

// The size of the command-line text field (at most 1023 characters).
constexpr size_t kCommandLineSize = protocol::kJobCommandLineSize;
// The size of a key value field (at most 511 characters).
constexpr size_t kValueSize = protocol::kJobValueSize;

// The directory of the print control's own program: programPath (the
// running executable) up to its last "/"; when programPath is empty, the text
// before the first occurrence of "Ostrevo" (any letter case) in the command
// line, with one trailing "/" removed.  Returns false, with directory empty,
// when neither gives a directory or it does not fit.
bool FindUtilityDirectory(const char* programPath, const char* commandLine, char* directory,
                          size_t size);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_COMMAND_LINE_H_
