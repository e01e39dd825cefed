// The report name: the base name of a job's HTML files.
#ifndef KAVELO_PRINTCONTROL_REPORT_NAME_H_
#define KAVELO_PRINTCONTROL_REPORT_NAME_H_

#include <cstddef>
#include <ctime>

namespace kavelo::printcontrol {

// The job's time-stamp name: the local time as six digits "HHMMSS" (24-hour
// clock, e.g. "093015").  Without a local time it is the decimal text of
// (rand() % 1000) + |process id| + a per-process counter that rises by one
// at each use.  Written into destination of size bytes (cut to fit).
void MakeReportName(char* destination, size_t size);

// The same from a given local time; null stands for "no local time" and
// gives the fallback form.
void FormatReportName(const std::tm* localTime, char* destination, size_t size);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_REPORT_NAME_H_
