#include "printcontrol/job/spool_files.h"

#include <unistd.h>

#include <cstring>

#include <sys/stat.h>

#include "printcontrol/job/command_line.h"

namespace kavelo::printcontrol {

bool IsSpoolFilePath(const std::string& path, const char* extension) {
  if (extension == nullptr) return false;
  const size_t extensionLength = std::strlen(extension);
  if (path.empty() || path[0] != '/') return false;
  const size_t slash = path.rfind('/');
  // A name before the extension: "/spool/.xml" names no job.
  if (path.size() - slash - 1 <= extensionLength) return false;
  if (path.compare(path.size() - extensionLength, extensionLength, extension) != 0) return false;
  // "/spool/../etc/x.xml" would leave the folder the service named.
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(start, end - start);
    if (component == "." || component == "..") return false;
    start = end + 1;
  }
  return true;
}

bool RemoveSpoolFile(const std::string& path, const char* extension) {
  if (!IsSpoolFilePath(path, extension)) return false;
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) return false;
  return ::unlink(path.c_str()) == 0;
}

void RemoveSpoolFilesNamedIn(const std::string& commandLine) {
  std::string path;
  if (FindKeyValueText(commandLine, "xml", &path)) RemoveSpoolFile(path, ".xml");
  if (FindKeyValueText(commandLine, "xsl", &path)) RemoveSpoolFile(path, ".xsl");
}

}  // namespace kavelo::printcontrol
