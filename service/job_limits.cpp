#include "service/job_limits.h"

#include <climits>
#include <vector>

#include "common/registry_access.h"
#include "platform/process.h"
#include "service/queue_thread.h"

namespace kavelo {

namespace {

// The text the print control works on: its arguments after the program's
// own, joined with single blanks (an empty argument adds nothing).
std::string ControlText(const std::string& jobCommandLine) {
  std::vector<std::string> args = platform::SplitCommandLine(jobCommandLine);
  std::string text;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i].empty()) continue;
    if (!text.empty()) text += ' ';
    text += args[i];
  }
  return text;
}

// The value of key as the print control finds it: at the first "key=",
// running to the first end mark behind it or the end of the text.
bool ControlValue(const std::string& text, const std::string& key, const char* endMark,
                  std::string* value) {
  size_t at = text.find(key + "=");
  if (at == std::string::npos) return false;
  at += key.size() + 1;
  size_t end = text.find(endMark, at);
  *value = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
  return true;
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
    ControlValue(text, path.key, ";", &value);
    if (path.expected.size() >= kControlValueSize) {
      return std::string("the ") + path.what + " path has " + Count(path.expected.size()) +
             " characters, the print control reads at most " + Count(kControlValueSize - 1);
    }
    if (value != path.expected) {
      return std::string("the print control would read the ") + path.what + " path as \"" +
             value + "\"";
    }
  }
  std::string printer;
  ControlValue(text, "printerName", ";copy", &printer);
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
    std::string value;
    ControlValue(text, number.key, ";", &value);
    int32_t read = ReadDecimal(value.c_str());
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
  return CommandLineFault(
      FormatJobCommandLine(job.printerApplication, job.xmlPath, job.xslPath, job.printerName,
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

}  // namespace kavelo
