// The report header: the report_info element near the start of a report XML
// file, read with a line scan (no XML parser):
//   <report_info>
//     <title>...</title>  <style_sheet_type>...</style_sheet_type>
//     <width>...</width>  <real_length>...</real_length>  <real_width>...</real_width>
//   </report_info>
// Each value element stands on one line with its start and end tag.
#ifndef KAVELO_PRINTCONTROL_REPORT_HEADER_H_
#define KAVELO_PRINTCONTROL_REPORT_HEADER_H_

#include <cstddef>
#include <cstdint>

namespace kavelo::printcontrol {

// Where the header values go.  Fields whose element is not found keep their
// values.
struct ReportHeaderFields {
  char* title = nullptr;  // HTML entities decoded, cut to titleSize - 1
  size_t titleSize = 0;
  int32_t* styleFlag = nullptr;   // "full" (case matters) 0, any other text 1
  int32_t* width = nullptr;       // numbers: optionally signed decimal, 0 when
  int32_t* realLength = nullptr;  // not a number
  int32_t* realWidth = nullptr;
};

// Reads the header of the report at xmlFilePath.  Lines are read in pieces
// of at most 1023 characters.  Only lines after the one holding
// "<report_info>" and before the one holding "</report_info>" count; on each
// the first of title, style_sheet_type, width, real_length, real_width whose
// start tag is on it is taken, when at least one character stands between
// its start tag and its end tag.  A later element of a kind replaces an
// earlier one.  A file that cannot be read changes nothing.
void ReadReportHeaderFile(const char* xmlFilePath, const ReportHeaderFields& fields);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_REPORT_HEADER_H_
