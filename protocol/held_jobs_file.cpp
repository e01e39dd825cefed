#include "protocol/held_jobs_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace kavelo::protocol {

namespace {

bool IsField(const std::string& text) {
  return !text.empty() && text.find_first_of(std::string("\t\n\r\0", 4)) == std::string::npos;
}

}  // namespace

std::string FormatHeldFileLine(const std::string& printer, const std::string& htmlPath) {
  if (!IsField(printer) || !IsField(htmlPath)) return "";
  return "file\t" + printer + "\t" + htmlPath + "\n";
}

std::string FormatHeldJobLine(const std::string& printer, int32_t jobId) {
  if (!IsField(printer) || jobId <= 0) return "";
  return "job\t" + printer + "\t" + std::to_string(jobId) + "\n";
}

std::vector<HeldJobEntry> ParseHeldJobs(const std::string& text) {
  std::vector<HeldJobEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // cut off while being written
    std::string line = text.substr(start, end - start);
    start = end + 1;
    size_t first = line.find('\t');
    size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second == std::string::npos) continue;
    HeldJobEntry entry;
    entry.printer = line.substr(first + 1, second - first - 1);
    std::string value = line.substr(second + 1);
    if (!IsField(entry.printer) || !IsField(value)) continue;
    std::string kind = line.substr(0, first);
    if (kind == "file") {
      entry.htmlPath = value;
    } else if (kind == "job") {
      if (value.find_first_not_of("0123456789") != std::string::npos) continue;
      errno = 0;
      long long id = std::strtoll(value.c_str(), nullptr, 10);
      if (errno != 0 || id <= 0 || id > INT32_MAX) continue;
      entry.jobId = static_cast<int32_t>(id);
    } else {
      continue;
    }
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace kavelo::protocol
