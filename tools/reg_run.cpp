// Running the commands of kavelo-reg against the registry.
#include <strings.h>

#include <istream>
#include <ostream>

#include "platform/account.h"
#include "tools/reg_command.h"

namespace kavelo::tools {
namespace {

using platform::kErrorFileNotFound;
using platform::kErrorMoreData;
using platform::kErrorNoMoreItems;
using platform::kErrorSuccess;

const char kSuccess[] = "The operation completed successfully.";

struct Value {
  std::string name;
  uint32_t type = platform::REG_NONE;
  std::vector<uint8_t> data;
};

// Every value of the key in enumeration order, with buffers grown to fit.
long ListValues(const platform::RegKey& key, std::vector<Value>* values) {
  values->clear();
  std::vector<char> name(256);
  std::vector<uint8_t> data(1024);
  for (uint32_t index = 0;;) {
    uint32_t nameLength = static_cast<uint32_t>(name.size());
    uint32_t dataLength = static_cast<uint32_t>(data.size());
    uint32_t type = 0;
    long status = platform::RegEnumValue(key, index, name.data(), &nameLength, &type, data.data(),
                                         &dataLength);
    if (status == kErrorNoMoreItems) return kErrorSuccess;
    if (status == kErrorMoreData) {
      // Retry the same index with the sizes the registry asked for.
      if (nameLength > name.size()) name.resize(nameLength);
      if (dataLength > data.size()) data.resize(dataLength);
      continue;
    }
    if (status != kErrorSuccess) return status;
    values->push_back(Value{std::string(name.data(), nameLength), type,
                            std::vector<uint8_t>(data.begin(), data.begin() + dataLength)});
    ++index;
  }
}

long ListSubkeys(const platform::RegKey& key, std::vector<std::string>* names) {
  names->clear();
  for (uint32_t index = 0;; ++index) {
    std::string name;
    long status = platform::RegEnumKey(key, index, &name);
    if (status == kErrorNoMoreItems) return kErrorSuccess;
    if (status != kErrorSuccess) return status;
    names->push_back(name);
  }
}

int Fail(std::ostream& err, long status) {
  err << "ERROR: " << RegStatusMessage(status) << "\n";
  return 1;
}

bool Confirm(const std::string& question, std::ostream& out, std::istream& in) {
  out << question << " (Yes/No)? " << std::flush;
  std::string answer;
  if (!std::getline(in, answer)) {
    out << "\n";
    return false;
  }
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int Cancelled(std::ostream& out) {
  out << "The operation was canceled by the user.\n";
  return 1;
}

// Prints one key of a query: its path, then the selected values.  With
// selection (/v or /ve) only the matching value; *matches counts them.
long PrintKey(const platform::RegKey& key, const std::string& keyName, const RegCommand& command,
              std::ostream& out, int* matches) {
  std::vector<Value> values;
  long status = ListValues(key, &values);
  if (status != kErrorSuccess) return status;
  bool selecting = command.hasValueName || command.defaultValue;
  std::string wanted = command.hasValueName ? command.valueName : std::string();
  std::vector<const Value*> shown;
  for (const Value& value : values) {
    if (!selecting || strcasecmp(value.name.c_str(), wanted.c_str()) == 0) shown.push_back(&value);
  }
  if (selecting && shown.empty() && !(command.defaultValue && !command.recursive)) {
    return kErrorFileNotFound;
  }
  out << keyName << "\n";
  for (const Value* value : shown)
    out << FormatValueLine(value->name, value->type, value->data) << "\n";
  if (selecting && shown.empty()) {
    // The unnamed value of a key always exists on Windows, set or not.
    out << "    (Default)    REG_SZ    (value not set)\n";
  }
  *matches += static_cast<int>(shown.size());
  return kErrorSuccess;
}

// Prints the key and, below it, every subkey's block (query /s).
long PrintTree(const platform::RegKey& key, const std::string& keyName, const RegCommand& command,
               std::ostream& out, int* matches) {
  long status = PrintKey(key, keyName, command, out, matches);
  bool selecting = command.hasValueName || command.defaultValue;
  if (status == kErrorSuccess) {
    out << "\n";
  } else if (!(selecting && status == kErrorFileNotFound)) {
    return status;
  }
  std::vector<std::string> subkeys;
  status = ListSubkeys(key, &subkeys);
  if (status != kErrorSuccess) return status;
  for (const std::string& name : subkeys) {
    platform::RegKey child;
    std::string path = key.path().empty() ? name : key.path() + "\\" + name;
    status = platform::RegOpenKey(command.hive, path, platform::KEY_READ, &child);
    if (status != kErrorSuccess) return status;
    status = PrintTree(child, keyName + "\\" + name, command, out, matches);
    if (status != kErrorSuccess) return status;
  }
  return kErrorSuccess;
}

int Query(const RegCommand& command, std::ostream& out, std::ostream& err) {
  platform::RegKey key;
  long status = platform::RegOpenKey(command.hive, command.path, platform::KEY_READ, &key);
  if (status != kErrorSuccess) return Fail(err, status);
  int matches = 0;
  out << "\n";
  if (command.recursive) {
    status = PrintTree(key, command.keyName, command, out, &matches);
    if (status != kErrorSuccess) return Fail(err, status);
    if (command.hasValueName || command.defaultValue) {
      out << "End of search: " << matches << " match(es) found.\n";
      return matches > 0 ? 0 : 1;
    }
    return 0;
  }
  status = PrintKey(key, command.keyName, command, out, &matches);
  if (status != kErrorSuccess) return Fail(err, status);
  out << "\n";
  if (command.hasValueName || command.defaultValue) return 0;
  std::vector<std::string> subkeys;
  status = ListSubkeys(key, &subkeys);
  if (status != kErrorSuccess) return Fail(err, status);
  for (const std::string& name : subkeys) out << command.keyName << "\\" << name << "\n";
  return 0;
}

int Add(const RegCommand& command, std::ostream& out, std::ostream& err, std::istream& in) {
  std::vector<uint8_t> bytes;
  bool setsValue = command.hasValueName || command.defaultValue;
  if (setsValue && !EncodeValueData(command.type, command.data, command.separator, &bytes)) {
    err << "ERROR: Invalid syntax.\n";
    return 1;
  }
  platform::RegKey key;
  long status = platform::RegCreateKey(command.hive, command.path, platform::KEY_ALL_ACCESS, &key);
  if (status != kErrorSuccess) return Fail(err, status);
  if (setsValue) {
    std::string name = command.hasValueName ? command.valueName : std::string();
    status = platform::RegQueryValue(key, name, nullptr, nullptr);
    if (status == kErrorSuccess && !command.force &&
        !Confirm("Value " + (name.empty() ? std::string("(Default)") : name) + " exists, overwrite",
                 out, in)) {
      return Cancelled(out);
    }
    status = platform::RegSetValue(key, name, command.type, bytes.data(),
                                   static_cast<uint32_t>(bytes.size()));
    if (status != kErrorSuccess) return Fail(err, status);
  }
  out << kSuccess << "\n";
  return 0;
}

int Delete(const RegCommand& command, std::ostream& out, std::ostream& err, std::istream& in) {
  platform::RegKey key;
  long status = platform::RegOpenKey(command.hive, command.path, platform::KEY_ALL_ACCESS, &key);
  if (status != kErrorSuccess) return Fail(err, status);
  if (command.hasValueName || command.defaultValue) {
    std::string name = command.hasValueName ? command.valueName : std::string();
    status = platform::RegQueryValue(key, name, nullptr, nullptr);
    if (status != kErrorSuccess) return Fail(err, status);
    if (!command.force &&
        !Confirm("Delete the registry value " + (name.empty() ? std::string("(Default)") : name),
                 out, in)) {
      return Cancelled(out);
    }
    status = platform::RegDeleteValue(key, name);
  } else if (command.allValues) {
    if (!command.force &&
        !Confirm("Delete all values under the registry key " + command.keyName, out, in)) {
      return Cancelled(out);
    }
    std::vector<Value> values;
    status = ListValues(key, &values);
    for (const Value& value : values) {
      if (status != kErrorSuccess) break;
      status = platform::RegDeleteValue(key, value.name);
    }
  } else {
    if (command.path.empty()) return Fail(err, platform::kErrorAccessDenied);
    if (!command.force &&
        !Confirm("Permanently delete the registry key " + command.keyName, out, in)) {
      return Cancelled(out);
    }
    status = platform::RegDeleteTree(key, "");
  }
  if (status != kErrorSuccess) return Fail(err, status);
  out << kSuccess << "\n";
  return 0;
}

}  // namespace

int RunRegCommand(const RegCommand& command, std::ostream& out, std::ostream& err,
                  std::istream& in) {
  switch (command.operation) {
    case RegCommand::Operation::kHelp:
      out << RegUsage();
      return 0;
    case RegCommand::Operation::kQuery:
      return Query(command, out, err);
    case RegCommand::Operation::kAdd:
      return Add(command, out, err, in);
    case RegCommand::Operation::kDelete:
      return Delete(command, out, err, in);
  }
  return 1;
}

bool SwitchToRegUser(const std::string& user, std::string* error) {
  if (!platform::RunsAsRoot()) {
    *error = "Only root may use --user.";
    return false;
  }
  platform::Account account;
  if (!platform::LookUpAccount(user, &account)) {
    *error = "There is no account named " + user + ".";
    return false;
  }
  std::string failure = platform::SwitchToAccount(account);
  if (!failure.empty()) {
    *error = "Cannot run as " + user + ": " + failure;
    return false;
  }
  return true;
}

int RegMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            std::istream& in) {
  RegCommand command;
  std::string error;
  if (!ParseRegCommand(args, &command, &error)) {
    err << "ERROR: " << error << "\n" << RegUsage();
    return 1;
  }
  if (!command.user.empty() && !SwitchToRegUser(command.user, &error)) {
    err << "ERROR: " << error << "\n";
    return 1;
  }
  return RunRegCommand(command, out, err, in);
}

}  // namespace kavelo::tools
