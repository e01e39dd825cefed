// A temporary world for print control tests: a spool folder with a job's
// XML and XSL files, a folder spooler with printers, a registry folder and
// an event-log file, set in the environment for this process and the
// programs it starts (and restored afterwards).
#ifndef KAVELO_PRINTCONTROL_TEST_JOB_FILES_H_
#define KAVELO_PRINTCONTROL_TEST_JOB_FILES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kavelo::testing {

class JobWorld {
 public:
  JobWorld();
  ~JobWorld();
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
  // The port name the folder spooler gives a printer.
  std::string PortOf(const std::string& name) const;

  // The insertion strings of every event reported under source, in order.
  std::vector<std::string> EventsOf(const std::string& source) const;
  // The raw lines of the event-log file.
  std::vector<std::string> EventLines() const;

 private:
  void SetEnv(const char* name, const std::string& value);

  std::string root_;
  std::string spool_;
  std::string printers_;
  std::string eventLog_;
  std::map<std::string, std::pair<bool, std::string>> saved_;
};

bool FileExists(const std::string& path);

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

// Sets a REG_DWORD value of the print limits (platform/print_limits.h).
void SetPrintLimit(const char* name, uint32_t value);

}  // namespace kavelo::testing

#endif  // KAVELO_PRINTCONTROL_TEST_JOB_FILES_H_
