#include "platform/print_limits.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include <sys/file.h>
#include <sys/stat.h>

#include "platform/registry.h"

namespace kavelo::platform {

namespace {

constexpr int64_t kMiB = 1048576;

uint32_t DwordOr(const RegKey& key, const char* name, uint32_t fallback) {
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
  if (RegQueryValue(key, name, &type, &data) != 0) return fallback;
  if (type != REG_DWORD || data.size() != sizeof(uint32_t)) return fallback;
  uint32_t value = DwordFromBytes(data.data(), data.size());
  return value != 0 ? value : fallback;
}

// The value of "key=" at its first occurrence, up to the next ";".
std::string KeyValue(const std::string& text, const std::string& key) {
  size_t at = text.find(key + "=");
  if (at == std::string::npos) return "";
  at += key.size() + 1;
  return text.substr(at, text.find(';', at) - at);
}

}  // namespace

int64_t PrintLimits::TransformTimeMs(int64_t xmlBytes) const {
  // Rounded up to whole MiB, so that every byte counts.
  int64_t mib = (std::max<int64_t>(xmlBytes, 0) + kMiB - 1) / kMiB;
  return std::max(kTransformFloorMs, mib * transformTimePerMiBMs);
}

int64_t PrintLimits::HtmlSizeBytes(int64_t xmlBytes) const {
  return std::max<int64_t>(xmlBytes, 0) * htmlSizeFactor + kHtmlMarginBytes;
}

int PrintLimits::RenderWorkerCount() const {
  int64_t count = renderWorkers;
  if (count == 0) count = sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<int>(std::clamp<int64_t>(count, 1, kMaxRenderWorkers));
}

PrintLimits ReadPrintLimits() {
  PrintLimits limits;
  RegKey key;
  if (RegOpenKey(Hive::kLocalMachine, kPrintLimitsKey, KEY_READ, &key) != 0) return limits;
  limits.printControlTimeoutMs =
      DwordOr(key, "PrintControlTimeout", PrintLimits::kDefaultTimeoutMs);
  limits.memoryMiB = DwordOr(key, "PrintControlMemoryLimit", PrintLimits::kDefaultMemoryMiB);
  limits.transformTimePerMiBMs =
      DwordOr(key, "TransformTimePerMB", PrintLimits::kDefaultTimePerMiBMs);
  limits.htmlSizeFactor = DwordOr(key, "HtmlSizeFactor", PrintLimits::kDefaultHtmlSizeFactor);
  limits.renderWorkers = DwordOr(key, "RenderWorkers", 0);
  limits.printThreads = std::min(DwordOr(key, "PrintThreads", PrintLimits::kDefaultPrintThreads),
                                 PrintLimits::kMaxPrintThreads);
  return limits;
}

std::string JobWorkFolder(const std::string& xmlPath) { return xmlPath + ".work"; }

int MakeLockedJobWorkFolder(const std::string& folder) {
  const std::string staging = folder + ".new";
  std::error_code ignored;
  std::filesystem::remove_all(staging, ignored);
  if (::mkdir(staging.c_str(), 0700) != 0) return -1;
  int fd = ::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  // rename() never replaces a folder that holds something.
  if (fd < 0 || ::flock(fd, LOCK_SH) != 0 || ::rename(staging.c_str(), folder.c_str()) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    ::rmdir(staging.c_str());
    errno = error;
    return -1;
  }
  return fd;
}

bool JobWorkFolderAbandoned(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool abandoned = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return abandoned;
}

// path without its extension when it ends in ext (any letter case).
std::string WithoutExtension(const std::string& path, const char* ext) {
  size_t n = std::strlen(ext);
  if (path.size() > n && strcasecmp(path.c_str() + path.size() - n, ext) == 0) {
    return path.substr(0, path.size() - n);
  }
  return path;
}

void RemoveDerivedJobFiles(const std::string& jobCommandLine) {
  std::string xml = KeyValue(jobCommandLine, "xml");
  std::string xsl = KeyValue(jobCommandLine, "xsl");
  // The stylesheet's print-style copy lies beside it.
  if (!xsl.empty()) ::unlink((WithoutExtension(xsl, ".xsl") + "st.xsl").c_str());
  if (xml.empty()) return;
  // The chunk reports of a split lie beside the report, numbered from 0.
  std::string base = WithoutExtension(xml, ".xml");
  for (int i = 0; ::unlink((base + std::to_string(i) + ".xml").c_str()) == 0; ++i) {
  }
  std::error_code ignored;
  std::filesystem::remove_all(JobWorkFolder(xml), ignored);
  std::filesystem::remove_all(JobWorkFolder(xml) + ".new", ignored);  // see MakeLockedJobWorkFolder
}

void RemoveJobFiles(const std::string& jobCommandLine) {
  RemoveDerivedJobFiles(jobCommandLine);
  for (const char* key : {"xml", "xsl"}) {
    std::string path = KeyValue(jobCommandLine, key);
    if (!path.empty()) ::unlink(path.c_str());
  }
}

}  // namespace kavelo::platform
