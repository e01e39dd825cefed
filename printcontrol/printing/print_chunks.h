// Printing the chunk HTML files of a report that is too large to print as
// one file: copy after copy, every chunk in order.
#ifndef KAVELO_PRINTCONTROL_PRINT_CHUNKS_H_
#define KAVELO_PRINTCONTROL_PRINT_CHUNKS_H_

#include <functional>

#include "platform/spooler.h"

namespace kavelo::printcontrol {

class ReportJob;
class StringList;

// Prints one HTML file (PrintHtmlFile for the job); error (1024 bytes) is
// empty on success.
using HtmlPrinter = std::function<void(const char* htmlPath, int copies, int lock, char* error)>;

// The job's copies, one at a time, each printing every chunk HTML file in
// order with one copy.  Stops at the first failure, its text in error
// (1024 bytes).  Deletes no file.
void PrintChunksPlain(const ReportJob& job, const StringList& htmlFiles, const HtmlPrinter& print,
                      char* error);

// The same, for a printer on which the user may hold its own jobs: each
// chunk is printed locked (orlendi submits it held), its spooler job found
// by the file's name and collected; after each copy the collected jobs are
// kept together (KeepHeldJobsTogether) and released.  Each file and each
// job is recorded in the job's held-jobs file (protocol/held_jobs_file.h)
// before it is held.  Before every copy but the first the files are renamed
// (listed in *htmlFiles), so that each copy's spooler jobs have their own
// document names.  Resuming a stopped printer is tried before each release.
// On a failure (printing a chunk, finding its job, recording, releasing)
// every collected job, and a job of the failed file, is cancelled.  Deletes
// no file; *htmlFiles names the files as they are.  spooler is used on the
// calling thread only.
void PrintChunksHeld(const ReportJob& job, platform::Spooler& spooler, const HtmlPrinter& print,
                     StringList* htmlFiles, char* error);

}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_PRINT_CHUNKS_H_
