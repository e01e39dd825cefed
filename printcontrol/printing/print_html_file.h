// Printing one HTML file through the HTML printing program orlendi, which
// lives in the print control's own directory: orlendi is started with the
// job's layout on its command line, followed through its info file and the
// printer's queue (the job watcher), and ended when it takes too long.
#ifndef KAVELO_PRINTCONTROL_PRINT_HTML_FILE_H_
#define KAVELO_PRINTCONTROL_PRINT_HTML_FILE_H_

#include <atomic>
#include <cstddef>
#include <string>

namespace kavelo::printcontrol {

class ReportJob;

// The program's file name in the print control's directory.
constexpr const char kOrlendiName[] = "orlendi";
// The longest command line orlendi is started with.
constexpr size_t kOrlendiCommandLineSize = 1024;

// How long orlendi may take, in cycles of one wait for its end.
struct OrlendiLimits {
  int cycleMs = 1000;
  int loadCycles = 360;          // until the info file exists
  int printCyclesPerCopy = 360;  // after it, per copy
  int cyclesAfterWatcher = 60;   // after the watcher saw the jobs spooled
};

// The marker file name of a printed HTML page: a path of at least six
// characters ending in ".html" gets ".info" in its place ("page3.html" ->
// "page3.info"); any other path gets "info" appended ("x.htm" ->
// "x.htminfo").  Written into destination of size bytes (cut to fit).
void MakeInfoName(const char* htmlPath, char* destination, size_t size);

// orlendi's command line for one HTML file of the job; false when it would
// be longer than kOrlendiCommandLineSize - 1 characters (a cut line would
// name other files or another printer).
// With a PDF path the line asks orlendi to render into it only.
bool MakeOrlendiCommandLine(const ReportJob& job, const char* htmlPath, int copies, int lock,
                            std::string* commandLine, const std::string& pdfPath = "");

// Prints the HTML file at htmlPath with copies copies; lock 1 when the
// caller holds the spooled job afterwards.  True on success (*error empty),
// else false with *error:
//   "Can't create process CMDLINE, Report Title:TITLE, errno = N"
//   "Error in orlendi(load html file). Report Title:TITLE"  (no info file in time)
//   "Error in orlendi. Report Title:TITLE"                  (printing took too long)
// An orlendi that ends counts as success (it reports its own failures).  The
// info file is deleted on every path, and no orlendi or watcher outlives
// the call.
bool PrintHtmlFile(const ReportJob& job, const std::string& htmlPath, int copies, int lock,
                   std::string* error, const OrlendiLimits& limits = OrlendiLimits());

// Renders the HTML file at htmlPath into pdfPath on the job's printer page
// through orlendi (render only: nothing is spooled), within the limit to
// load a page.  True when orlendi rendered it.  False otherwise, with *error:
// empty when orlendi failed and reported it itself, or when cancelled
// became true (orlendi is then ended within cycleMs); else
//   "Error:orlendi command line too long, Report Title:TITLE"
//   "Can't create process CMDLINE, Report Title:TITLE, errno = N"
//   "Error in orlendi(load html file). Report Title:TITLE"  (not rendered in time)
// No orlendi outlives the call; a PDF that was not rendered is deleted.
bool RenderHtmlFile(const ReportJob& job, const std::string& htmlPath, const std::string& pdfPath,
                    const std::atomic<bool>& cancelled, std::string* error,
                    const OrlendiLimits& limits = OrlendiLimits());

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINT_HTML_FILE_H_
