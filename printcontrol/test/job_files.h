// A temporary world for print control tests: a spool folder with a job's
// XML and XSL files, a folder spooler with printers, a registry folder and
// an event-log file, set in the environment for this process and the
// programs it starts (and restored afterwards).
#ifndef KAVELO_PRINTCONTROL_TEST_JOB_FILES_H_
#define KAVELO_PRINTCONTROL_TEST_JOB_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/files.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"
#include "testsupport/temp_registry.h"

namespace kavelo::testsupport {

class JobWorld {
 public:
  JobWorld();
  JobWorld(const JobWorld&) = delete;
  JobWorld& operator=(const JobWorld&) = delete;

  const std::string& root() const { return root_; }
  const std::string& spool() const { return spool_; }
  const std::string& eventLog() const { return eventLog_; }

  // Writes a file under the spool folder; returns its path.
  std::string WriteSpoolFile(const std::string& name, const std::string& content);
  // Adds a printer (a subfolder of the folder spooler).
  void AddPrinter(const std::string& name);
  // The names of the files in a printer's folder (its printed documents).
  std::vector<std::string> PrinterFiles(const std::string& name) const;
  // The documents spooled on a printer in the order they were spooled
  // (by one process): each its document name and its data file's path.
  struct Spooled {
    std::string document, file;
  };
  std::vector<Spooled> SpooledDocuments(const std::string& name) const;
  // The port name the folder spooler gives a printer.
  std::string PortOf(const std::string& name) const;

  // The insertion strings of every event reported under source, in order.
  std::vector<std::string> EventsOf(const std::string& source) const;
  // The raw lines of the event-log file.
  std::vector<std::string> EventLines() const;

 private:
  TempDir dir_;
  const std::string root_ = dir_.path();
  const std::string spool_ = root_ + "/spool";
  const std::string printers_ = root_ + "/printers";
  const std::string eventLog_ = root_ + "/events.jsonl";
  ScopedEnv registryEnv_, eventLogEnv_, spoolerEnv_;
};

// A report of pages pages of lines lines each, width characters a line,
// each page headed "PAGE n": large HTML from a small file.
std::string BigReport(int pages, int lines, int width = 100);

// The sample report and stylesheet of the tests.
extern const char kSampleReport[];
extern const char kSampleStylesheet[];

// Stylesheets that run away: a named template that calls itself with a
// parameter that doubles each time (memory), and one whose output doubles
// thirty times (64 GB of HTML); and one that computes for hours without
// output or growing memory (time).
extern const char kSelfCallingStylesheet[];
extern const char kDoublingStylesheet[];
extern const char kEndlessStylesheet[];

}  // namespace kavelo::testsupport

#endif  // KAVELO_PRINTCONTROL_TEST_JOB_FILES_H_
