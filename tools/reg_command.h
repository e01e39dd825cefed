// kavelo-reg: the administrator's registry tool, with the syntax, output and
// exit codes of the Windows "reg" command for query, add and delete.
//
//   kavelo-reg query  KEY [/v NAME | /ve] [/s]
//   kavelo-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   kavelo-reg delete KEY [/v NAME | /ve | /va] [/f]
//   kavelo-reg --user ACCOUNT query|add|delete ...
//
// --user (root only) runs the command as another account, so that HKCU is
// that account's hive and a hive it creates is that account's own: the
// service's account reads its printer settings from its own HKCU.
// KEY is HKLM\path or HKEY_LOCAL_MACHINE\path (likewise HKCU); options may
// also start with "-" and ignore letter case.
#ifndef KAVELO_TOOLS_REG_COMMAND_H_
#define KAVELO_TOOLS_REG_COMMAND_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace kavelo::tools {

struct RegCommand {
  enum class Operation { kHelp, kQuery, kAdd, kDelete };
  Operation operation = Operation::kHelp;
  platform::Hive hive = platform::Hive::kLocalMachine;
  std::string keyName;        // as printed: HKEY_LOCAL_MACHINE\path
  std::string path;           // below the hive, no leading "\"
  bool hasValueName = false;  // /v
  std::string valueName;
  bool defaultValue = false;  // /ve: the unnamed value
  bool allValues = false;     // /va
  bool recursive = false;     // /s of query
  uint32_t type = platform::REG_SZ;
  bool hasData = false;  // /d
  std::string data;
  char separator = '\0';  // /s of add: separator of REG_MULTI_SZ items
  bool force = false;     // /f
  std::string user;       // --user ACCOUNT: run as that account
};

// Parses the arguments after the program name.  False (with a reason in
// *error) when they do not form a command.
bool ParseRegCommand(const std::vector<std::string>& args, RegCommand* command, std::string* error);

// Splits "HKLM\path" into hive, printed key name and path.  False for an
// unknown root.
bool ParseKeyName(const std::string& text, platform::Hive* hive, std::string* keyName,
                  std::string* path);

// The data shown for a value: text up to its NUL, REG_DWORD and REG_QWORD as
// "0x" and lower-case hex, REG_MULTI_SZ items joined by "\0", anything else
// as upper-case hex bytes.
std::string FormatValueData(uint32_t type, const std::vector<uint8_t>& data);

// One value line: four blanks, name ("(Default)" when empty), four blanks,
// type name, four blanks, data.
std::string FormatValueLine(const std::string& name, uint32_t type,
                            const std::vector<uint8_t>& data);

// The bytes stored for /d DATA of a type: texts with their NUL, numbers in
// decimal or 0x hex as little-endian, REG_MULTI_SZ items split at the
// separator ("\0" in the text when the separator is NUL), binary from hex.
bool EncodeValueData(uint32_t type, const std::string& text, char separator,
                     std::vector<uint8_t>* bytes);

// The message of a registry status code, as the Windows tools print it.
std::string RegStatusMessage(long status);

// Runs a parsed command; prompts (add without /f over an existing value,
// delete without /f) read their answer from in.  Returns the exit code.
int RunRegCommand(const RegCommand& command, std::ostream& out, std::ostream& err,
                  std::istream& in);

// Parses and runs; wrong arguments print the usage to err and give 1.
int RegMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            std::istream& in);

// Hands the process over to the named account for good (as --user asks).
// Only root may; false with the reason in *error otherwise.
bool SwitchToRegUser(const std::string& user, std::string* error);

// The usage text.
std::string RegUsage();

}  // namespace kavelo::tools

#endif  // KAVELO_TOOLS_REG_COMMAND_H_
