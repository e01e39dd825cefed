#include "printcontrol/job/report_header.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "printcontrol/job/text_field.h"
#include "printcontrol/render/html_entities.h"
#include "protocol/integer_text.h"

namespace kavelo::printcontrol {

namespace {

// A line of the scan: at most this many characters (longer lines come in
// pieces, each treated as a line).
constexpr size_t kLineSize = 1024;

enum class Element { kTitle, kStyleSheetType, kWidth, kRealLength, kRealWidth };

struct ElementTags {
  Element element;
  const char* start;
  const char* end;
};

// In the order they are tested on a line.
constexpr ElementTags kElements[] = {
    {Element::kTitle, "<title>", "</title>"},
    {Element::kStyleSheetType, "<style_sheet_type>", "</style_sheet_type>"},
    {Element::kWidth, "<width>", "</width>"},
    {Element::kRealLength, "<real_length>", "</real_length>"},
    {Element::kRealWidth, "<real_width>", "</real_width>"},
};

void Store(Element element, const std::string& value, const ReportHeaderFields& fields) {
  switch (element) {
    case Element::kTitle: {
      if (fields.title == nullptr || fields.titleSize == 0) return;
      CopyText(fields.title, fields.titleSize, value.c_str());
      std::string decoded(fields.titleSize, '\0');
      DecodeHtmlEntities(value.c_str(), &decoded[0], decoded.size());
      if (decoded[0] != '\0') CopyText(fields.title, fields.titleSize, decoded.c_str());
      return;
    }
    case Element::kStyleSheetType:
      if (fields.styleFlag != nullptr) *fields.styleFlag = value == "full" ? 0 : 1;
      return;
    case Element::kWidth:
      if (fields.width != nullptr) *fields.width = protocol::ReadInteger(value.c_str());
      return;
    case Element::kRealLength:
      if (fields.realLength != nullptr) *fields.realLength = protocol::ReadInteger(value.c_str());
      return;
    case Element::kRealWidth:
      if (fields.realWidth != nullptr) *fields.realWidth = protocol::ReadInteger(value.c_str());
      return;
  }
}

void ExamineLine(const char* line, const ReportHeaderFields& fields) {
  for (const ElementTags& tags : kElements) {
    const char* start = std::strstr(line, tags.start);
    if (start == nullptr) continue;
    const char* valueStart = start + std::strlen(tags.start);
    const char* end = std::strstr(line, tags.end);
    // An end tag before the start tag, or an empty element, takes nothing.
    if (end != nullptr && end > valueStart) {
      Store(tags.element, std::string(valueStart, static_cast<size_t>(end - valueStart)), fields);
    }
    return;
  }
}

}  // namespace

void ReadReportHeaderFile(const char* xmlFilePath, const ReportHeaderFields& fields) {
  if (xmlFilePath == nullptr || xmlFilePath[0] == '\0') return;
  FILE* file = std::fopen(xmlFilePath, "re");
  if (file == nullptr) return;
  bool inside = false;
  char line[kLineSize];
  while (std::fgets(line, sizeof(line), file) != nullptr) {
    if (std::strstr(line, "<report_info>") != nullptr) {
      inside = true;
      continue;
    }
    if (std::strstr(line, "</report_info>") != nullptr) break;
    if (inside) ExamineLine(line, fields);
  }
  std::fclose(file);
}

}  // namespace kavelo::printcontrol
