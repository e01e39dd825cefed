// One run of orlendi: check the HTML file, render it to PDF on the printer's
// page, create the info file, submit the PDF, clean up.
#ifndef KAVELO_ORLENDI_HTML_PRINTER_H_
#define KAVELO_ORLENDI_HTML_PRINTER_H_

#include <string>

#include "protocol/orlendi_command_line.h"

namespace kavelo::platform {
class Spooler;
}  // namespace kavelo::platform

namespace kavelo::orlendi {

using protocol::PrintRequest;

// Prints the request's HTML file on its printer through the spooler.  The
// info file is created once the HTML is rendered; the job's document name
// is the HTML path.  A request with a PDF path is rendered into that file
// on the printer's page and neither spooled nor given an info file.  True on success; false with
// *error set.  Temporary files (stylesheet, PDF) are removed in every case.
bool PrintHtml(const PrintRequest& request, platform::Spooler& spooler, int renderTimeLimitMs,
               std::string* error);

// The program: reads the command line, prints, reports a failure to the
// event log under the given event source (and on standard error).  Returns
// the exit status: 0 printed, 1 failed, 2 a command line without keys.
int RunOrlendiProgram(int argc, const char* const* argv);

}  // namespace kavelo::orlendi

#endif  // KAVELO_ORLENDI_HTML_PRINTER_H_
