// Argument parsing and value formatting of kavelo-reg.
#include "tools/reg_command.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kavelo::tools {
namespace {

bool IsOption(const std::string& arg) {
  return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-');
}

bool OptionIs(const std::string& arg, const char* name) {
  return IsOption(arg) && strcasecmp(arg.c_str() + 1, name) == 0;
}

// Parses a whole unsigned or negative number, decimal or "0x" hex, that fits
// in bits.
bool ParseNumber(const std::string& text, int bits, uint64_t* value) {
  if (text.empty()) return false;
  bool negative = text[0] == '-';
  std::string digits = negative ? text.substr(1) : text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits = digits.substr(2);
  }
  if (digits.empty() || digits[0] == '-' || digits[0] == '+' || isspace(digits[0])) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = strtoull(digits.c_str(), &end, base);
  if (errno != 0 || *end != '\0') return false;
  uint64_t max = bits == 64 ? ~0ull : (1ull << bits) - 1;
  if (negative) {
    // Negative numbers are taken as their two's complement, as reg does.
    if (parsed > (max >> 1) + 1) return false;
    parsed = (~parsed + 1) & max;
  } else if (parsed > max) {
    return false;
  }
  *value = parsed;
  return true;
}

void AppendLittleEndian(uint64_t value, int bytes, std::vector<uint8_t>* out) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

std::string RegUsage() {
  return "Usage:\n"
         "  kavelo-reg query  KEY [/v NAME | /ve] [/s]\n"
         "  kavelo-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
         "  kavelo-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
         "  kavelo-reg --user ACCOUNT query|add|delete ...   (root only: as that account,\n"
         "                                                   HKCU is its own hive)\n"
         "  kavelo-reg --help\n"
         "\n"
         "  KEY    HKLM\\path or HKEY_LOCAL_MACHINE\\path, HKCU\\path or HKEY_CURRENT_USER\\path\n"
         "  /v     the value NAME            /ve   the unnamed value, shown as (Default)\n"
         "  /va    every value of the key    /s    query: the key and all its subkeys;\n"
         "                                         add: separator of REG_MULTI_SZ items (\\0)\n"
         "  /t     REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
         "         REG_BINARY, REG_NONE\n"
         "  /d     the data: numbers in decimal or 0x hex, binary as hex digits\n"
         "  /f     overwrite or delete without asking\n"
         "Options may also be written with '-'.  The hive files are kept in\n"
         "KAVELO_REGISTRY_DIR (default /var/lib/kavelo/registry).\n"
         "Exit status: 0 success, 1 failure (reason on standard error).\n";
}

bool ParseKeyName(const std::string& text, platform::Hive* hive, std::string* keyName,
                  std::string* path) {
  size_t slash = text.find('\\');
  std::string root = text.substr(0, slash);
  std::string rest = slash == std::string::npos ? std::string() : text.substr(slash + 1);
  if (strcasecmp(root.c_str(), "HKLM") == 0 ||
      strcasecmp(root.c_str(), "HKEY_LOCAL_MACHINE") == 0) {
    *hive = platform::Hive::kLocalMachine;
    *keyName = "HKEY_LOCAL_MACHINE";
  } else if (strcasecmp(root.c_str(), "HKCU") == 0 ||
             strcasecmp(root.c_str(), "HKEY_CURRENT_USER") == 0) {
    *hive = platform::Hive::kCurrentUser;
    *keyName = "HKEY_CURRENT_USER";
  } else {
    return false;
  }
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  *path = rest;
  if (!rest.empty()) *keyName += "\\" + rest;
  return true;
}

bool ParseRegCommand(const std::vector<std::string>& args, RegCommand* command,
                     std::string* error) {
  *command = RegCommand();
  size_t first = 0;
  if (!args.empty() && args[0].rfind("--user=", 0) == 0) {
    command->user = args[0].substr(7);
    first = 1;
  } else if (!args.empty() && args[0] == "--user") {
    if (args.size() > 1) command->user = args[1];
    first = 2;
  }
  if (first > 0 && command->user.empty()) {
    *error = "Invalid syntax.";
    return false;
  }
  if (first > 0) {
    std::string user = command->user;
    if (!ParseRegCommand(std::vector<std::string>(args.begin() + first, args.end()), command,
                         error)) {
      return false;
    }
    if (!command->user.empty()) {  // --user given twice
      *error = "Invalid syntax.";
      return false;
    }
    command->user = user;
    return true;
  }
  if (args.empty()) {
    *error = "Invalid syntax.";
    return false;
  }
  const std::string& verb = args[0];
  if (verb == "--help" || verb == "-h" || verb == "/?" || verb == "-?") {
    command->operation = RegCommand::Operation::kHelp;
    return args.size() == 1 || (*error = "Invalid syntax.", false);
  }
  if (strcasecmp(verb.c_str(), "query") == 0) {
    command->operation = RegCommand::Operation::kQuery;
  } else if (strcasecmp(verb.c_str(), "add") == 0) {
    command->operation = RegCommand::Operation::kAdd;
  } else if (strcasecmp(verb.c_str(), "delete") == 0) {
    command->operation = RegCommand::Operation::kDelete;
  } else {
    *error = "Invalid syntax.";
    return false;
  }
  if (args.size() == 2 && (args[1] == "/?" || args[1] == "-?" || args[1] == "--help")) {
    command->operation = RegCommand::Operation::kHelp;
    return true;
  }
  if (args.size() < 2 || IsOption(args[1])) {
    *error = "Invalid syntax.";
    return false;
  }
  if (!ParseKeyName(args[1], &command->hive, &command->keyName, &command->path)) {
    *error = "Invalid key name.";
    return false;
  }

  using Op = RegCommand::Operation;
  const Op op = command->operation;
  bool seenType = false, seenSeparator = false;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasNext = i + 1 < args.size();
    auto once = [&](bool seen) {
      if (seen) *error = "Invalid syntax.";
      return !seen;
    };
    if (OptionIs(arg, "v") && hasNext) {
      if (!once(command->hasValueName)) return false;
      command->hasValueName = true;
      command->valueName = args[++i];
    } else if (OptionIs(arg, "ve")) {
      if (!once(command->defaultValue)) return false;
      command->defaultValue = true;
    } else if (OptionIs(arg, "va") && op == Op::kDelete) {
      if (!once(command->allValues)) return false;
      command->allValues = true;
    } else if (OptionIs(arg, "s") && op == Op::kQuery) {
      if (!once(command->recursive)) return false;
      command->recursive = true;
    } else if (OptionIs(arg, "s") && op == Op::kAdd && hasNext) {
      if (!once(seenSeparator)) return false;
      seenSeparator = true;
      const std::string& separator = args[++i];
      if (separator.size() != 1) {
        *error = "Invalid syntax.";
        return false;
      }
      command->separator = separator[0];
    } else if (OptionIs(arg, "t") && op == Op::kAdd && hasNext) {
      if (!once(seenType)) return false;
      seenType = true;
      if (!platform::ParseRegTypeName(args[++i], &command->type)) {
        *error = "Invalid syntax.";
        return false;
      }
    } else if (OptionIs(arg, "d") && op == Op::kAdd && hasNext) {
      if (!once(command->hasData)) return false;
      command->hasData = true;
      command->data = args[++i];
    } else if (OptionIs(arg, "f") && op != Op::kQuery) {
      if (!once(command->force)) return false;
      command->force = true;
    } else {
      *error = "Invalid syntax.";
      return false;
    }
  }
  int choices = command->hasValueName + command->defaultValue + command->allValues;
  if (choices > 1 ||
      (op == Op::kAdd && (seenType || command->hasData || seenSeparator) && choices == 0)) {
    *error = "Invalid syntax.";
    return false;
  }
  return true;
}

std::string FormatValueData(uint32_t type, const std::vector<uint8_t>& data) {
  char number[32];
  switch (type) {
    case platform::REG_SZ:
    case platform::REG_EXPAND_SZ: {
      std::string text(data.begin(), data.end());
      return text.substr(0, text.find('\0'));
    }
    case platform::REG_DWORD:
    case platform::REG_QWORD: {
      size_t width = type == platform::REG_DWORD ? 4 : 8;
      if (data.size() != width) break;  // malformed: shown as bytes
      uint64_t value = 0;
      for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(data[i]) << (8 * i);
      snprintf(number, sizeof(number), "0x%llx", static_cast<unsigned long long>(value));
      return number;
    }
    case platform::REG_MULTI_SZ: {
      std::string text(data.begin(), data.end());
      // Items end with NUL; the list ends with an empty item.
      while (!text.empty() && text.back() == '\0') text.pop_back();
      std::string shown;
      for (char c : text) {
        if (c == '\0') {
          shown += "\\0";
        } else {
          shown += c;
        }
      }
      return shown;
    }
    default:
      break;
  }
  std::string hex;
  for (uint8_t byte : data) {
    snprintf(number, sizeof(number), "%02X", byte);
    hex += number;
  }
  return hex;
}

std::string FormatValueLine(const std::string& name, uint32_t type,
                            const std::vector<uint8_t>& data) {
  return "    " + (name.empty() ? std::string("(Default)") : name) + "    " +
         platform::RegTypeName(type) + "    " + FormatValueData(type, data);
}

bool EncodeValueData(uint32_t type, const std::string& text, char separator,
                     std::vector<uint8_t>* bytes) {
  bytes->clear();
  switch (type) {
    case platform::REG_SZ:
    case platform::REG_EXPAND_SZ:
      bytes->assign(text.begin(), text.end());
      bytes->push_back(0);
      return true;
    case platform::REG_DWORD:
    case platform::REG_QWORD: {
      int bits = type == platform::REG_DWORD ? 32 : 64;
      uint64_t value = 0;
      if (!ParseNumber(text.empty() ? "0" : text, bits, &value)) return false;
      AppendLittleEndian(value, bits / 8, bytes);
      return true;
    }
    case platform::REG_MULTI_SZ: {
      // Items split at the separator; with the NUL separator, at "\0".
      std::vector<std::string> items;
      std::string current;
      for (size_t i = 0; i < text.size(); ++i) {
        bool split = separator == '\0'
                         ? text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '0'
                         : text[i] == separator;
        if (split) {
          items.push_back(current);
          current.clear();
          if (separator == '\0') ++i;
        } else {
          current += text[i];
        }
      }
      if (!text.empty()) items.push_back(current);
      for (const std::string& item : items) {
        if (item.empty()) return false;  // an empty item would end the list early
        bytes->insert(bytes->end(), item.begin(), item.end());
        bytes->push_back(0);
      }
      bytes->push_back(0);
      return true;
    }
    default: {  // REG_BINARY, REG_NONE: hex digits, two per byte
      if (text.size() % 2 != 0) return false;
      for (size_t i = 0; i < text.size(); i += 2) {
        if (!isxdigit(static_cast<unsigned char>(text[i])) ||
            !isxdigit(static_cast<unsigned char>(text[i + 1]))) {
          return false;
        }
        bytes->push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
      }
      return true;
    }
  }
}

std::string RegStatusMessage(long status) {
  switch (status) {
    case platform::kErrorFileNotFound:
      return "The system was unable to find the specified registry key or value.";
    case platform::kErrorAccessDenied:
      return "Access is denied.";
    case platform::kErrorInvalidData:
      return "The data is invalid.";
    case platform::kErrorNotEnoughMemory:
      return "Not enough memory resources are available to process this command.";
    case platform::kErrorInvalidParameter:
      return "The parameter is incorrect.";
    case platform::kErrorBadPathname:
      return "The specified path is invalid.";
    case platform::kErrorBusy:
      return "The requested resource is in use.";
    case platform::kErrorCantWrite:
      return "The configuration registry key could not be written.";
    case platform::kErrorKeyDeleted:
      return "Illegal operation attempted on a registry key that has been marked for deletion.";
    default:
      return "The operation failed with status " + std::to_string(status) + ".";
  }
}

}  // namespace kavelo::tools
