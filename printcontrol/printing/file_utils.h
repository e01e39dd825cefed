// Names of the files a print job makes; StopProcess comes along for callers
// that use both.
#ifndef KAVELO_PRINTCONTROL_FILE_UTILS_H_
#define KAVELO_PRINTCONTROL_FILE_UTILS_H_

#include <cstddef>
#include <ctime>

#include "printcontrol/printing/stop_process.h"

namespace kavelo::printcontrol {

// The job's time-stamp name: the local time as six digits "HHMMSS" (24-hour
// clock, e.g. "093015").  Without a local time it is the decimal text of
// (rand() % 1000) + |process id| + a per-process counter that rises by one
// at each use.  Written into destination of size bytes (cut to fit).
void MakeReportName(char* destination, size_t size);

// The same from a given local time; null stands for "no local time" and
// gives the fallback form.
void FormatReportName(const std::tm* localTime, char* destination, size_t size);

// The marker file name of a printed HTML page: a path of at least six
// characters ending in ".html" gets ".info" in its place ("page3.html" ->
// "page3.info"); any other path gets "info" appended ("x.htm" ->
// "x.htminfo").  Written into destination of size bytes (cut to fit).
void MakeInfoName(const char* htmlPath, char* destination, size_t size);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_FILE_UTILS_H_
