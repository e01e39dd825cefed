#include "printcontrol/test/job_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include <sys/stat.h>

namespace kavelo::testsupport {

std::string BigReport(int pages, int lines, int width) {
  std::string report =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<report>\n<report_info>\n"
      "<title>Big</title>\n<style_sheet_type>full</style_sheet_type>\n<width>100</width>\n"
      "<real_length>60</real_length>\n<real_width>100</real_width>\n</report_info>\n";
  const std::string line = "<line>" + std::string(width, 'x') + "</line>\n";
  for (int p = 0; p < pages; ++p) {
    if (p > 0) report += "<page/>\n";
    report += "<page_header><line>PAGE " + std::to_string(p + 1) + "</line></page_header>\n";
    report += "<detail>\n";
    for (int l = 0; l < lines; ++l) report += line;
    report += "</detail>\n";
  }
  return report + "</report>\n";
}

const char kSampleReport[] =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<report>\n"
    "<report_info>\n"
    "<title>Monthly Sales &amp; Returns</title>\n"
    "<style_sheet_type>full</style_sheet_type>\n"
    "<width>132</width>\n"
    "<real_length>60</real_length>\n"
    "<real_width>132</real_width>\n"
    "</report_info>\n"
    "<page_header><line>REGION   CUSTOMER   AMOUNT</line></page_header>\n"
    "<detail><line>NORTH    Harbour    4,210.50</line></detail>\n"
    "<page/>\n"
    "<detail><line>SOUTH    Costa      2,340.10</line></detail>\n"
    "</report>\n";

const char kSampleStylesheet[] =
    "<?xml version=\"1.0\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "<xsl:template match=\"/\"><html><head><style>@media print { body { font-size: 9pt; "
    "line-height: 1.2; } }</style></head><body><xsl:apply-templates/></body></html>"
    "</xsl:template>\n"
    "</xsl:stylesheet>\n";

const char kSelfCallingStylesheet[] =
    "<?xml version=\"1.0\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "<xsl:template match=\"/\"><html><body><xsl:call-template name=\"r\">"
    "<xsl:with-param name=\"s\" select=\"'x'\"/></xsl:call-template></body></html>"
    "</xsl:template>\n"
    "<xsl:template name=\"r\"><xsl:param name=\"s\"/><br/><xsl:call-template name=\"r\">"
    "<xsl:with-param name=\"s\" select=\"concat($s,$s)\"/></xsl:call-template></xsl:template>\n"
    "</xsl:stylesheet>\n";

const char kDoublingStylesheet[] =
    "<?xml version=\"1.0\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "<xsl:template match=\"/\"><html><body><xsl:call-template name=\"d\">"
    "<xsl:with-param name=\"n\" select=\"30\"/></xsl:call-template></body></html>"
    "</xsl:template>\n"
    "<xsl:template name=\"d\"><xsl:param name=\"n\"/><xsl:choose>"
    "<xsl:when test=\"$n = 0\"><p>The quick brown fox jumps over the lazy dog 0123456789</p>"
    "</xsl:when><xsl:otherwise>"
    "<xsl:call-template name=\"d\"><xsl:with-param name=\"n\" select=\"$n - 1\"/>"
    "</xsl:call-template><xsl:call-template name=\"d\"><xsl:with-param name=\"n\" "
    "select=\"$n - 1\"/></xsl:call-template></xsl:otherwise></xsl:choose></xsl:template>\n"
    "</xsl:stylesheet>\n";

const char kEndlessStylesheet[] =
    "<?xml version=\"1.0\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n"
    "<xsl:template match=\"/\"><html><body><xsl:value-of select=\"count(//node()[count(//node()"
    "[count(//node()[count(//node()[count(//node()[count(//node()[count(//node()) &gt; 0]) &gt; 0])"
    " &gt; 0]) &gt; 0]) &gt; 0]) &gt; 0])\"/></body></html></xsl:template>\n"
    "</xsl:stylesheet>\n";

JobWorld::JobWorld()
    : dir_("kavelo_job_test"),
      registryEnv_("KAVELO_REGISTRY_DIR", root_ + "/registry"),
      eventLogEnv_("KAVELO_EVENTLOG", eventLog_),
      spoolerEnv_("KAVELO_SPOOLER", "dir:" + printers_) {
  mkdir(spool_.c_str(), 0700);
  mkdir(printers_.c_str(), 0700);
  mkdir((root_ + "/registry").c_str(), 0700);
}

std::string JobWorld::WriteSpoolFile(const std::string& name, const std::string& content) {
  std::string path = spool_ + "/" + name;
  WriteFile(path, content);
  return path;
}

void JobWorld::AddPrinter(const std::string& name) {
  mkdir((printers_ + "/" + name).c_str(), 0700);
}

std::vector<std::string> JobWorld::PrinterFiles(const std::string& name) const {
  std::vector<std::string> files;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(printers_ + "/" + name, ignored)) {
    files.push_back(entry.path().filename().string());
  }
  return files;
}

std::vector<JobWorld::Spooled> JobWorld::SpooledDocuments(const std::string& name) const {
  // A job's metadata file is "DATE-TIME-PID-COUNTER[-NAME].job"; the
  // counter orders one process's jobs.
  std::vector<std::pair<long, Spooled>> jobs;
  const std::string folder = printers_ + "/" + name + "/";
  for (const std::string& file : PrinterFiles(name)) {
    if (file.size() < 4 || file.compare(file.size() - 4, 4, ".job") != 0) continue;
    size_t pidEnd = file.find('-', file.find('-', file.find('-') + 1) + 1);
    long counter = std::atol(file.c_str() + pidEnd + 1);
    Spooled spooled;
    for (const std::string& line : ReadLines(folder + file)) {
      if (line.rfind("document=", 0) == 0) spooled.document = line.substr(9);
      if (line.rfind("file=", 0) == 0) spooled.file = folder + line.substr(5);
    }
    jobs.push_back({counter, spooled});
  }
  std::sort(jobs.begin(), jobs.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Spooled> documents;
  for (auto& job : jobs) documents.push_back(std::move(job.second));
  return documents;
}

std::string JobWorld::PortOf(const std::string& name) const {
  return "file:" + printers_ + "/" + name;
}

std::vector<std::string> JobWorld::EventLines() const { return ReadLines(eventLog_); }

std::vector<std::string> JobWorld::EventsOf(const std::string& source) const {
  std::vector<std::string> events;
  for (const std::string& line : EventLines()) {
    if (line.find("\"source\":\"" + source + "\"") == std::string::npos) continue;
    // "strings":["..."] with one string that holds no quote in these tests.
    const std::string key = "\"strings\":[\"";
    size_t start = line.find(key);
    if (start == std::string::npos) {
      events.push_back("");
      continue;
    }
    start += key.size();
    size_t end = line.find("\"]", start);
    events.push_back(line.substr(start, end - start));
  }
  return events;
}

}  // namespace kavelo::testsupport
