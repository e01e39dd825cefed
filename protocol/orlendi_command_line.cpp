#include "protocol/orlendi_command_line.h"

#include <cstring>

#include "protocol/arguments.h"
#include "protocol/integer_text.h"

namespace kavelo::protocol {

std::string FormatOrlendiKeys(const OrlendiArguments& a) {
  return "html=" + a.htmlPath + ";xsl=" + a.xslPath + ";printerName=" + a.printerName +
         ";copy=" + std::to_string(a.copies) + ";orien=" + std::to_string(a.orientation) +
         ";eventsource=" + a.eventSource + ";unit=" + std::to_string(a.unit) +
         ";left=" + a.marginLeft + ";right=" + a.marginRight + ";top=" + a.marginTop +
         ";bottom=" + a.marginBottom + ";colprint=" + std::to_string(a.color) +
         ";lock=" + std::to_string(a.lock) + ";" +
         (a.pdfPath.empty() ? std::string() : "pdf=" + a.pdfPath + ";");
}

std::string FormatOrlendiCommandLine(const std::string& programPath,
                                     const OrlendiArguments& arguments) {
  return "\"" + programPath + "\" \"" + programPath + "\" " + FormatOrlendiKeys(arguments);
}

std::string JoinKeyArguments(int argc, const char* const* argv) {
  int first = 1;
  while (first < argc && argv[first] != nullptr && std::strchr(argv[first], '=') == nullptr) {
    ++first;
  }
  return JoinArguments(argc, argv, first);
}

std::string KeyValue(const std::string& text, const char* key, size_t from) {
  std::string pattern = std::string(key) + "=";
  size_t at = text.find(pattern, from);
  if (at == std::string::npos) return "";
  size_t start = at + pattern.size();
  size_t end = text.find(';', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

namespace {

// The numbers of the request: no white space before them.
int ReadNumber(const std::string& text) {
  return ReadInteger(text.c_str(), LeadingSpace::kEndsTheNumber);
}

}  // namespace

PrintRequest ParsePrintRequest(const std::string& text) {
  PrintRequest request;
  request.htmlPath = KeyValue(text, "html");
  request.xslPath = KeyValue(text, "xsl");

  // The keys behind the printer name are read behind its value.
  size_t rest = 0;
  static const char kPrinterKey[] = "printerName=";
  size_t at = text.find(kPrinterKey);
  if (at != std::string::npos) {
    size_t start = at + sizeof kPrinterKey - 1;
    size_t end = text.find(";copy=", start);
    if (end == std::string::npos) end = text.size();
    request.printerName = text.substr(start, end - start);
    rest = end;
  }
  int copies = ReadNumber(KeyValue(text, "copy", rest));
  request.copies = copies > 0 ? copies : 1;
  request.orientation = ReadNumber(KeyValue(text, "orien", rest)) == 2 ? 2 : 1;
  request.eventSource = KeyValue(text, "eventsource", rest);
  request.unit = ReadNumber(KeyValue(text, "unit", rest)) == 1 ? 1 : 0;
  request.marginLeft = KeyValue(text, "left", rest);
  request.marginRight = KeyValue(text, "right", rest);
  request.marginTop = KeyValue(text, "top", rest);
  request.marginBottom = KeyValue(text, "bottom", rest);
  request.color = ReadNumber(KeyValue(text, "colprint", rest)) == 1;
  request.lock = ReadNumber(KeyValue(text, "lock", rest)) == 1;
  request.pdfPath = KeyValue(text, "pdf", rest);
  return request;
}

}  // namespace kavelo::protocol
