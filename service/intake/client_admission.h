// Who may print, and how much: the allowed clients, the connections each
// client holds, what each client has queued, and the free space the spool
// file system keeps.  One object per listener, shared by the listener
// thread and every connection thread; every operation is thread safe and
// short (none waits on the network or the disk, but for one statvfs).
#ifndef KAVELO_SERVICE_INTAKE_CLIENT_ADMISSION_H_
#define KAVELO_SERVICE_INTAKE_CLIENT_ADMISSION_H_

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/intake/peer_address.h"

namespace kavelo::service {

class JobList;

// The bounds; 0 stands for no bound.
struct ClientLimits {
  AddressList allowedClients;  // empty: every client
  // Peers whose connections start with a PROXY protocol header that names
  // the client; empty: none.
  AddressList trustedProxies;
  uint32_t maxConnectionsPerClient = 0;
  uint32_t maxQueuedJobsPerClient = 0;
  uint64_t maxQueuedBytesPerClient = 0;
  uint64_t spoolReserveBytes = 0;  // free space a document must leave
};

// The extended attribute of a spooled XML file that names the client that
// sent the job, so that what each client has queued is known again after a
// restart.
constexpr char kClientAttribute[] = "user.kavelo.client";

// True when a file in the spool directory keeps kClientAttribute (tried on
// a file made and removed for it).
bool SpoolKeepsClientAttribute(const std::string& spoolDirectory);

// The kinds of refusal reported at most once a minute per address.
enum class RefusalKind { kNotAllowed, kConnections };

class ClientAdmission {
 public:
  // Refusal reports remembered at once (distinct addresses and kinds
  // within a minute); beyond them a refusal is not reported.
  static constexpr size_t kRememberedRefusals = 1024;

  // limits, the spool folder (for its free space) and the print thread's
  // job list (what is queued: a job counts for its client from the moment
  // its report is announced until it has left this list).  Before any
  // other call; queued may be null (nothing ever leaves the count).
  void Configure(const ClientLimits& limits, const std::string& spoolDirectory,
                 const JobList* queued);
  const ClientLimits& limits() const { return limits_; }

  bool Allows(const PeerAddress& peer) const;

  // Counts one more connection of the client; false (nothing counted) when
  // it holds MaxConnectionsPerClient already.
  bool TakeConnection(const PeerAddress& peer);
  void ReleaseConnection(const PeerAddress& peer);

  // True when this refusal is to be reported: the first for the address
  // and kind within a minute.
  bool ShouldReport(const PeerAddress& peer, RefusalKind kind);

  // Counts the jobs of the persisted queue (job command lines) for the
  // clients their spooled XML names (kClientAttribute), with the sizes of
  // their two spool files.  At start, before the jobs are printed.
  void CountQueuedJobs(const std::vector<std::string>& jobCommandLines);

  // One job's claim while its documents arrive: its count and bytes for
  // its client, and the spool space its documents still have to take.
  // Released by its destructor unless committed.
  class JobClaim {
   public:
    JobClaim(ClientAdmission* admission, const PeerAddress& peer);
    ~JobClaim();
    JobClaim(const JobClaim&) = delete;
    JobClaim& operator=(const JobClaim&) = delete;

    enum class Verdict { kAdmitted, kClientBound, kSpoolReserve };
    // Before a document of length bytes is written.  kClientBound: the
    // client's job would pass the bound *bound names
    // ("MaxQueuedJobsPerClient 1000", "MaxQueuedMBPerClient 2048");
    // kSpoolReserve: the spool file system would keep less than
    // SpoolReserveMB free.  The first admitted document counts the job.
    Verdict AdmitDocument(uint64_t length, std::string* bound);
    // bytes of the admitted document are on the disk.
    void Written(uint64_t bytes);
    // The job is queued (its report at xmlPath): it counts until it has
    // left the job list.
    void Commit(const std::string& xmlPath);

   private:
    ClientAdmission* admission_;
    PeerAddress peer_;
    uint64_t id_ = 0;            // of its ledger entry; 0: none yet
    uint64_t spoolPending_ = 0;  // announced, not written yet
  };

  // For tests: the jobs and bytes the client has queued or on their way.
  void Counted(const PeerAddress& peer, uint32_t* jobs, uint64_t* bytes);

 private:
  struct Entry {
    std::string client;  // PeerAddress::Key
    uint64_t bytes = 0;
    std::string xmlPath;      // empty while the job is on its way
    uint64_t committed = 0;   // commit sequence; 0: on its way
  };
  struct Totals {
    uint32_t jobs = 0;
    uint64_t bytes = 0;
  };

  std::string ClaimBytes(const PeerAddress& peer, uint64_t* id, uint64_t length);
  bool ClaimSpool(uint64_t length);
  void ReleaseSpool(uint64_t length);
  void Release(uint64_t id);
  void CommitEntry(uint64_t id, const std::string& xmlPath);
  // Drops the committed entries whose job has left the job list.
  void Prune();
  bool WouldExceed(const Totals& totals, bool newJob, uint64_t length, std::string* bound) const;
  void AddEntry(const std::string& client, uint64_t bytes, const std::string& xmlPath,
                uint64_t* id);

  ClientLimits limits_;
  std::string spoolDirectory_;
  const JobList* queued_ = nullptr;

  std::mutex connectionsMutex_;
  std::unordered_map<std::string, uint32_t> connections_;  // by client

  std::mutex refusalsMutex_;
  std::unordered_map<std::string, std::chrono::steady_clock::time_point> refusals_;

  std::mutex ledgerMutex_;
  std::unordered_map<uint64_t, Entry> entries_;      // by id
  std::unordered_map<std::string, Totals> clients_;  // by client
  uint64_t nextId_ = 1;
  uint64_t commits_ = 0;         // commit sequence
  size_t entriesAfterPrune_ = 0;  // a prune is due when the ledger has grown well past it

  std::mutex spoolMutex_;
  uint64_t spoolPending_ = 0;  // announced by admitted documents, not written yet
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_INTAKE_CLIENT_ADMISSION_H_
