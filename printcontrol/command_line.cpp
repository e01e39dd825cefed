#include "printcontrol/command_line.h"

#include <cstring>

#include "printcontrol/text_helpers.h"

namespace kavelo {

namespace {

// The first character of key's value in text, or null when the key does not
// occur.
const char* ValueStart(const char* text, const char* key) {
  if (text == nullptr || key == nullptr || key[0] == '\0') return nullptr;
  std::string pattern = std::string(key) + "=";
  const char* at = std::strstr(text, pattern.c_str());
  return at == nullptr ? nullptr : at + pattern.size();
}

KeyValue StoreValue(const char* start, size_t length, char* value, size_t size) {
  if (length >= size) {
    // A cut path or printer name would name another file or printer; the
    // caller refuses the value instead.
    value[0] = '\0';
    return KeyValue::kTooLong;
  }
  CopyText(value, size, start, length);
  return KeyValue::kFound;
}

}  // namespace

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr || argv[i][0] == '\0') continue;
    if (!text.empty()) text += ' ';
    text += argv[i];
  }
  return text;
}

KeyValue FindKeyValue(const char* text, const char* key, char* value, size_t size) {
  if (value == nullptr || size == 0) return KeyValue::kMissing;
  value[0] = '\0';
  const char* start = ValueStart(text, key);
  if (start == nullptr) return KeyValue::kMissing;
  const char* end = std::strchr(start, ';');
  size_t length = end == nullptr ? std::strlen(start) : static_cast<size_t>(end - start);
  return StoreValue(start, length, value, size);
}

bool FindKeyValueText(const std::string& text, const char* key, std::string* value) {
  const char* start = ValueStart(text.c_str(), key);
  if (start == nullptr) return false;
  const char* end = std::strchr(start, ';');
  *value = end == nullptr ? std::string(start) : std::string(start, end);
  return true;
}

KeyValue FindPrinterName(const char* text, char* value, size_t size) {
  if (value == nullptr || size == 0) return KeyValue::kMissing;
  value[0] = '\0';
  const char* start = ValueStart(text, "printerName");
  if (start == nullptr) return KeyValue::kMissing;
  const char* end = std::strstr(start, ";copy");
  size_t length = end == nullptr ? std::strlen(start) : static_cast<size_t>(end - start);
  return StoreValue(start, length, value, size);
}

int FindKeyNumber(const char* text, const char* key) {
  const char* start = ValueStart(text, key);
  if (start == nullptr) return 0;
  return ReadInteger(start);
}

bool FindUtilityDirectory(const char* programPath, const char* commandLine, char* directory,
                          size_t size) {
  if (directory == nullptr || size == 0) return false;
  directory[0] = '\0';
  const char* path = nullptr;
  size_t length = 0;
  if (programPath != nullptr && programPath[0] != '\0') {
    const char* slash = std::strrchr(programPath, '/');
    if (slash == nullptr) return false;
    path = programPath;
    length = static_cast<size_t>(slash - programPath);
  } else {
    const char* name = FindIgnoreCase(commandLine, "Ostrevo");
    if (name == nullptr) return false;
    path = commandLine;
    length = static_cast<size_t>(name - commandLine);
    if (length > 0 && path[length - 1] == '/') --length;
  }
  if (length == 0 || length >= size) return false;
  CopyText(directory, size, path, length);
  return true;
}

}  // namespace kavelo
