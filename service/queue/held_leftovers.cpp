#include "service/queue/held_leftovers.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/print_limits.h"
#include "platform/sysinfo.h"
#include "protocol/held_jobs_file.h"
#include "protocol/job_command_line.h"

namespace kavelo::service {

namespace {

// The file's first limit bytes; empty when it cannot be opened.
std::string ReadBounded(const std::string& path, size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return "";
  std::string text;
  char buffer[8192];
  while (text.size() < limit) {
    ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - text.size()));
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

// The document name CUPS keeps for a file's job: the path, or its last
// 255 bytes (IPP's limit on a name).
std::string DocumentNameOf(const std::string& path) {
  constexpr size_t kMaxIppName = 255;
  return path.size() > kMaxIppName ? path.substr(path.size() - kMaxIppName) : path;
}

// What the file names of one printer: job ids, and the document names of
// its HTML files.
struct Listed {
  std::set<int32_t> ids;
  std::set<std::string> files;
};

}  // namespace

int CancelHeldLeftovers(platform::Spooler& spooler, const std::string& workFolder,
                        const std::string& ownUser) {
  std::map<std::string, Listed> printers;
  for (const protocol::HeldJobEntry& entry : protocol::ParseHeldJobs(ReadBounded(
           workFolder + "/" + protocol::kHeldJobsFileName, protocol::kHeldJobsFileLimit))) {
    Listed& listed = printers[entry.printer];
    if (entry.jobId > 0) listed.ids.insert(entry.jobId);
    if (!entry.htmlPath.empty()) listed.files.insert(DocumentNameOf(entry.htmlPath));
  }
  int cancelled = 0;
  for (const auto& [printer, listed] : printers) {
    std::vector<platform::SpoolerJob> jobs;
    if (spooler.ListJobs(printer, &jobs) != platform::kSpoolerOk) break;
    for (const platform::SpoolerJob& job : jobs) {
      if ((job.status & platform::kJobStatusPaused) == 0) continue;
      bool ours = listed.ids.count(job.jobId) > 0 ||
                  (strcasecmp(job.userName.c_str(), ownUser.c_str()) == 0 &&
                   listed.files.count(job.documentName) > 0);
      if (!ours) continue;
      int status = spooler.ControlJob(printer, job.jobId, platform::JobCommand::kCancel);
      if (status == platform::kSpoolerOk) ++cancelled;
      // A scheduler that no longer answers would hold up a stop job by job.
      if (status == platform::kSpoolerTimeout || status == platform::kSpoolerUnavailable) {
        return cancelled;
      }
    }
  }
  return cancelled;
}

int CancelHeldLeftovers(const std::string& jobCommandLine) {
  std::string xml;
  if (!protocol::FindKeyValueText(jobCommandLine, "xml", &xml) || xml.empty()) return 0;
  const std::string folder = platform::JobWorkFolder(xml);
  if (::access((folder + "/" + protocol::kHeldJobsFileName).c_str(), F_OK) != 0) return 0;
  std::unique_ptr<platform::Spooler> spooler = platform::OpenSpooler();
  if (spooler == nullptr) return 0;
  return CancelHeldLeftovers(*spooler, folder, platform::UserName());
}

}  // namespace kavelo::service
