#include "service/intake/job_limits.h"

#include <climits>

#include "common/registry_access.h"
#include "platform/process.h"
#include "protocol/arguments.h"
#include "protocol/job_command_line.h"

namespace kavelo::service {

namespace {

// The text the print control works on: its arguments after the program's
// own, joined as it joins them.
std::string ControlText(const std::string& jobCommandLine) {
  return protocol::JoinArguments(platform::SplitCommandLine(jobCommandLine), 1);
}

std::string Count(size_t n) { return std::to_string(n); }

}  // namespace

std::string CommandLineFault(const std::string& jobCommandLine, const JobValues& job) {
  if (jobCommandLine.size() + 1 > RegistryAccess::kListBufferSize) {
    return "its command line has " + Count(jobCommandLine.size()) +
           " characters, the print queue holds at most " +
           Count(RegistryAccess::kListBufferSize - 1);
  }
  const std::string text = ControlText(jobCommandLine);
  if (text.size() >= kControlCommandLineSize) {
    return "the print control reads at most " + Count(kControlCommandLineSize - 1) +
           " characters of its command line, this job's has " + Count(text.size());
  }
  struct Path {
    const char* key;
    const char* what;
    const std::string& expected;
  } const paths[] = {{"xml", "report", job.xmlPath}, {"xsl", "stylesheet", job.xslPath}};
  for (const Path& path : paths) {
    std::string value;
    protocol::FindKeyValueText(text, path.key, &value);
    if (path.expected.size() >= kControlValueSize) {
      return std::string("the ") + path.what + " path has " + Count(path.expected.size()) +
             " characters, the print control reads at most " + Count(kControlValueSize - 1);
    }
    if (value != path.expected) {
      return std::string("the print control would read the ") + path.what + " path as \"" + value +
             "\"";
    }
  }
  std::string printer;
  protocol::FindPrinterNameText(text, &printer);
  if (printer.size() >= kControlValueSize) {
    return "the printer name has " + Count(printer.size()) +
           " characters, the print control reads at most " + Count(kControlValueSize - 1);
  }
  struct Number {
    const char* key;
    int32_t expected;
  } const numbers[] = {{"fromPage", job.fromPage},
                       {"toPage", job.toPage},
                       {"copy", job.copies},
                       {"orien", job.orientation}};
  for (const Number& number : numbers) {
    int32_t read = protocol::FindKeyNumber(text.c_str(), number.key);
    if (read != number.expected) {
      return std::string("the print control would read ") + number.key + " as " +
             std::to_string(read) + " instead of " + std::to_string(number.expected);
    }
  }
  return std::string();
}

std::string JobRefusal(const JobValues& job) {
  if (job.copies > kMaxCopies) {
    return "copies " + std::to_string(job.copies) + ", at most " + std::to_string(kMaxCopies);
  }
  return CommandLineFault(protocol::FormatJobCommandLine(
                              job.printerApplication, job.xmlPath, job.xslPath, job.printerName,
                              job.orientation, job.copies, job.fromPage, job.toPage),
                          job);
}

std::string SpoolDirectoryFault(const ParameterValues& values) {
  const std::string& directory = values.spoolerDirectory;
  if (directory.size() + 1 + kControlFileNameRoom >= kControlValueSize) {
    return "its path has " + Count(directory.size()) +
           " characters, the print control's files there need it below " +
           Count(kControlValueSize - 1 - kControlFileNameRoom);
  }
  // The longest spool name the listener makes: "%08d" of a negative sum.
  JobValues job;
  job.printerApplication = values.printerApplication;
  job.printerName = values.printerName;
  job.xmlPath = directory + "/" + std::to_string(INT_MIN) + ".xml";
  job.xslPath = directory + "/" + std::to_string(INT_MIN) + ".xsl";
  job.copies = kMaxCopies;
  job.fromPage = job.toPage = job.orientation = INT_MIN;
  return JobRefusal(job);
}

}  // namespace kavelo::service
