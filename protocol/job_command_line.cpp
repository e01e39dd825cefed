#include "protocol/job_command_line.h"

#include <cstring>

#include "protocol/integer_text.h"

namespace kavelo::protocol {

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
  std::memcpy(value, start, length);
  value[length] = '\0';
  return KeyValue::kFound;
}

// The end of the printer name that starts at start.
const char* PrinterNameEnd(const char* start) {
  const char* end = std::strstr(start, ";copy");
  return end == nullptr ? start + std::strlen(start) : end;
}

}  // namespace

std::string FormatJobCommandLine(const std::string& printerApplication, const std::string& xmlPath,
                                 const std::string& xslPath, const std::string& printerName,
                                 int32_t orientation, int32_t copies, int32_t fromPage,
                                 int32_t toPage) {
  std::string line;
  line.reserve(2 * printerApplication.size() + xmlPath.size() + xslPath.size() +
               printerName.size() + 96);
  line += '"' + printerApplication + "\" \"" + printerApplication + "\" xml=" + xmlPath;
  line += ";xsl=" + xslPath;
  line += ";fromPage=" + std::to_string(fromPage);
  line += ";toPage=" + std::to_string(toPage);
  line += ";printerName=" + printerName;
  line += ";copy=" + std::to_string(copies);
  line += ";orien=" + std::to_string(orientation);
  return line;
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
  return StoreValue(start, static_cast<size_t>(PrinterNameEnd(start) - start), value, size);
}

bool FindPrinterNameText(const std::string& text, std::string* value) {
  const char* start = ValueStart(text.c_str(), "printerName");
  if (start == nullptr) return false;
  *value = std::string(start, PrinterNameEnd(start));
  return true;
}

int FindKeyNumber(const char* text, const char* key) {
  const char* start = ValueStart(text, key);
  if (start == nullptr) return 0;
  return ReadInteger(start);
}

}  // namespace kavelo::protocol
