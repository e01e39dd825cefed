// The report header read from a report file: the title (with its entities
// decoded) into a small field, the style sheet type and the numbers.
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "printcontrol/job/report_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = kavelo::fuzz::WriteScratchFile("report.xml", data, size);
  // The title field is a separate allocation of its exact size, so that
  // AddressSanitizer sees any write past it.
  const size_t titleSize = size > 0 ? 1 + data[0] % 64 : 1;
  char* title = new char[titleSize];
  title[0] = '\0';
  int32_t styleFlag = -1, width = 0, realLength = 0, realWidth = 0;
  kavelo::printcontrol::ReportHeaderFields fields;
  fields.title = title;
  fields.titleSize = titleSize;
  fields.styleFlag = &styleFlag;
  fields.width = &width;
  fields.realLength = &realLength;
  fields.realWidth = &realWidth;
  kavelo::printcontrol::ReadReportHeaderFile(path.c_str(), fields);
  if (strnlen(title, titleSize) >= titleSize) __builtin_trap();  // not terminated
  delete[] title;
  return 0;
}
