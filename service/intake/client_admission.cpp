#include "service/intake/client_admission.h"

#include <fcntl.h>
#include <unistd.h>

#include <unordered_set>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include "protocol/job_command_line.h"
#include "service/queue/job_list.h"

namespace kavelo::service {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::minutes(1);

uint64_t FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

}  // namespace

bool SpoolKeepsClientAttribute(const std::string& spoolDirectory) {
  int fd = open(spoolDirectory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // cannot tell; the spool check speaks for the folder
  bool kept = fsetxattr(fd, kClientAttribute, "::1", 3, 0) == 0;
  close(fd);
  return kept;
}

void ClientAdmission::Configure(const ClientLimits& limits, const std::string& spoolDirectory,
                                const JobList* queued) {
  limits_ = limits;
  spoolDirectory_ = spoolDirectory;
  queued_ = queued;
}

bool ClientAdmission::Allows(const PeerAddress& peer) const {
  return limits_.allowedClients.empty() || limits_.allowedClients.Contains(peer);
}

bool ClientAdmission::TakeConnection(const PeerAddress& peer) {
  std::lock_guard<std::mutex> lock(connectionsMutex_);
  uint32_t& count = connections_[peer.Key()];
  if (limits_.maxConnectionsPerClient != 0 && count >= limits_.maxConnectionsPerClient) {
    if (count == 0) connections_.erase(peer.Key());
    return false;
  }
  ++count;
  return true;
}

void ClientAdmission::ReleaseConnection(const PeerAddress& peer) {
  std::lock_guard<std::mutex> lock(connectionsMutex_);
  auto it = connections_.find(peer.Key());
  if (it == connections_.end()) return;
  if (--it->second == 0) connections_.erase(it);
}

bool ClientAdmission::ShouldReport(const PeerAddress& peer, RefusalKind kind) {
  std::string key = peer.Key() + static_cast<char>(kind);
  Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(refusalsMutex_);
  auto it = refusals_.find(key);
  if (it != refusals_.end()) {
    if (now - it->second < kReportInterval) return false;
    it->second = now;
    return true;
  }
  if (refusals_.size() >= kRememberedRefusals) {
    for (auto old = refusals_.begin(); old != refusals_.end();) {
      old = now - old->second >= kReportInterval ? refusals_.erase(old) : std::next(old);
    }
    // A scan from more addresses than that within a minute: the log gets
    // the first of them only.
    if (refusals_.size() >= kRememberedRefusals) return false;
  }
  refusals_.emplace(key, now);
  return true;
}

void ClientAdmission::CountQueuedJobs(const std::vector<std::string>& jobCommandLines) {
  for (const std::string& job : jobCommandLines) {
    std::string xml, xsl;
    if (!protocol::FindKeyValueText(job, "xml", &xml)) continue;
    protocol::FindKeyValueText(job, "xsl", &xsl);
    char text[128];
    ssize_t length = getxattr(xml.c_str(), kClientAttribute, text, sizeof text - 1);
    PeerAddress peer;
    if (length <= 0 || !PeerAddress::Parse(std::string(text, static_cast<size_t>(length)), &peer)) {
      continue;  // spooled where the attribute could not be kept: counts for nobody
    }
    uint64_t id;
    std::lock_guard<std::mutex> lock(ledgerMutex_);
    AddEntry(peer.Key(), FileSize(xml) + FileSize(xsl), xml, &id);
  }
}

void ClientAdmission::Counted(const PeerAddress& peer, uint32_t* jobs, uint64_t* bytes) {
  std::lock_guard<std::mutex> lock(ledgerMutex_);
  auto it = clients_.find(peer.Key());
  *jobs = it == clients_.end() ? 0 : it->second.jobs;
  *bytes = it == clients_.end() ? 0 : it->second.bytes;
}

// Holds ledgerMutex_.
void ClientAdmission::AddEntry(const std::string& client, uint64_t bytes,
                               const std::string& xmlPath, uint64_t* id) {
  *id = nextId_++;
  Entry& entry = entries_[*id];
  entry.client = client;
  entry.bytes = bytes;
  entry.xmlPath = xmlPath;
  entry.committed = xmlPath.empty() ? 0 : ++commits_;
  Totals& totals = clients_[client];
  ++totals.jobs;
  totals.bytes += bytes;
}

bool ClientAdmission::WouldExceed(const Totals& totals, bool newJob, uint64_t length,
                                  std::string* bound) const {
  if (newJob && limits_.maxQueuedJobsPerClient != 0 &&
      totals.jobs >= limits_.maxQueuedJobsPerClient) {
    *bound = "MaxQueuedJobsPerClient " + std::to_string(limits_.maxQueuedJobsPerClient);
    return true;
  }
  if (limits_.maxQueuedBytesPerClient != 0 &&
      totals.bytes + length > limits_.maxQueuedBytesPerClient) {
    *bound = "MaxQueuedMBPerClient " + std::to_string(limits_.maxQueuedBytesPerClient >> 20);
    return true;
  }
  return false;
}

std::string ClientAdmission::ClaimBytes(const PeerAddress& peer, uint64_t* id, uint64_t length) {
  const std::string client = peer.Key();
  std::string bound;
  // A client at a bound may have jobs that have printed since they were
  // counted: they are dropped, and the claim is tried once more.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) Prune();
    std::lock_guard<std::mutex> lock(ledgerMutex_);
    Totals& totals = clients_[client];
    if (!WouldExceed(totals, *id == 0, length, &bound)) {
      if (*id == 0) {
        AddEntry(client, length, "", id);
      } else {
        entries_[*id].bytes += length;
        totals.bytes += length;
      }
      return "";
    }
    if (totals.jobs == 0) clients_.erase(client);
    if (queued_ == nullptr) break;
  }
  return bound;
}

void ClientAdmission::Release(uint64_t id) {
  std::lock_guard<std::mutex> lock(ledgerMutex_);
  auto it = entries_.find(id);
  if (it == entries_.end()) return;
  auto totals = clients_.find(it->second.client);
  if (totals != clients_.end()) {
    --totals->second.jobs;
    totals->second.bytes -= it->second.bytes;
    if (totals->second.jobs == 0) clients_.erase(totals);
  }
  entries_.erase(it);
}

void ClientAdmission::CommitEntry(uint64_t id, const std::string& xmlPath) {
  bool pruneDue;
  {
    std::lock_guard<std::mutex> lock(ledgerMutex_);
    auto it = entries_.find(id);
    if (it == entries_.end()) return;
    it->second.xmlPath = xmlPath;
    it->second.committed = ++commits_;
    // Jobs that printed are dropped when the ledger has doubled since the
    // last look, so its memory follows what is queued.
    pruneDue = queued_ != nullptr && entries_.size() > 2 * entriesAfterPrune_ + 1024;
  }
  if (pruneDue) Prune();
}

void ClientAdmission::Prune() {
  if (queued_ == nullptr) return;
  uint64_t seen;
  {
    std::lock_guard<std::mutex> lock(ledgerMutex_);
    seen = commits_;
  }
  // Every job committed up to here was in the list before this copy: one
  // missing from it has left the queue.
  std::unordered_set<std::string> queued;
  for (const std::string& job : queued_->Snapshot()) {
    std::string xml;
    if (protocol::FindKeyValueText(job, "xml", &xml)) queued.insert(std::move(xml));
  }
  std::lock_guard<std::mutex> lock(ledgerMutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    const Entry& entry = it->second;
    if (entry.committed == 0 || entry.committed > seen || queued.count(entry.xmlPath) != 0) {
      ++it;
      continue;
    }
    auto totals = clients_.find(entry.client);
    if (totals != clients_.end()) {
      --totals->second.jobs;
      totals->second.bytes -= entry.bytes;
      if (totals->second.jobs == 0) clients_.erase(totals);
    }
    it = entries_.erase(it);
  }
  entriesAfterPrune_ = entries_.size();
}

bool ClientAdmission::ClaimSpool(uint64_t length) {
  if (limits_.spoolReserveBytes == 0) return true;
  struct statvfs info;
  // A file system that cannot tell its free space leaves it to the write.
  if (statvfs(spoolDirectory_.c_str(), &info) != 0) return true;
  uint64_t available = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  std::lock_guard<std::mutex> lock(spoolMutex_);
  // What other documents announced and have not written yet is as good as
  // taken.
  if (available < spoolPending_ + length + limits_.spoolReserveBytes) return false;
  spoolPending_ += length;
  return true;
}

void ClientAdmission::ReleaseSpool(uint64_t length) {
  std::lock_guard<std::mutex> lock(spoolMutex_);
  spoolPending_ -= length < spoolPending_ ? length : spoolPending_;
}

ClientAdmission::JobClaim::JobClaim(ClientAdmission* admission, const PeerAddress& peer)
    : admission_(admission), peer_(peer) {}

ClientAdmission::JobClaim::~JobClaim() {
  if (spoolPending_ != 0) admission_->ReleaseSpool(spoolPending_);
  if (id_ != 0) admission_->Release(id_);
}

ClientAdmission::JobClaim::Verdict ClientAdmission::JobClaim::AdmitDocument(uint64_t length,
                                                                            std::string* bound) {
  const ClientLimits& limits = admission_->limits_;
  if (limits.maxQueuedJobsPerClient != 0 || limits.maxQueuedBytesPerClient != 0) {
    *bound = admission_->ClaimBytes(peer_, &id_, length);
    if (!bound->empty()) return Verdict::kClientBound;
  }
  if (!admission_->ClaimSpool(length)) return Verdict::kSpoolReserve;
  if (limits.spoolReserveBytes != 0) spoolPending_ += length;
  return Verdict::kAdmitted;
}

void ClientAdmission::JobClaim::Written(uint64_t bytes) {
  if (spoolPending_ == 0) return;
  uint64_t n = bytes < spoolPending_ ? bytes : spoolPending_;
  admission_->ReleaseSpool(n);
  spoolPending_ -= n;
}

void ClientAdmission::JobClaim::Commit(const std::string& xmlPath) {
  if (spoolPending_ != 0) admission_->ReleaseSpool(spoolPending_);
  spoolPending_ = 0;
  if (id_ != 0) admission_->CommitEntry(id_, xmlPath);
  id_ = 0;
}

}  // namespace kavelo::service
