// The values of one print job as the intake collects them, and the rules by
// which a client's option text replaces them.
#ifndef KAVELO_SERVICE_JOB_VALUES_H_
#define KAVELO_SERVICE_JOB_VALUES_H_

#include <cstdint>
#include <string>

namespace kavelo::service {

struct JobValues {
  std::string printerApplication;
  std::string xmlPath;
  std::string xslPath;
  std::string printerName;
  int32_t copies = 1;
  int32_t fromPage = 0;
  int32_t toPage = 0;
  int32_t orientation = 0;
};

// Parses optionText and applies its keys to *job: "printer" replaces the
// printer name when its value is not empty; "copies", "frompage", "topage"
// and "orientation" replace their value when it reads (as atoi reads) as
// anything but 0.
// Keys match ignoring case, the first occurrence counts, other keys are
// ignored.  Raises what OptionList::Parse raises (a text whose first byte is
// NUL, an entry with an empty key).
void ApplyPrintOptions(const char* optionText, JobValues* job);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_JOB_VALUES_H_
