// The job intake exchange: one print job over one connection, the service's
// side of the wire format in protocol/intake_wire.h.
#ifndef KAVELO_SERVICE_INTAKE_EXCHANGE_H_
#define KAVELO_SERVICE_INTAKE_EXCHANGE_H_

#include <cstdint>
#include <string>

#include <memory>

#include "protocol/intake_wire.h"
#include "service/intake/client_admission.h"
#include "service/intake/peer_address.h"
#include "service/queue/job_values.h"

namespace kavelo::service {

class EventLogChannel;
class QueueThread;
class SocketReader;
class SocketWriter;
class SpoolFile;

using protocol::kFinalNotQueued;
using protocol::kFinalQueued;
using protocol::kIntakeMagic;
using protocol::kIntakeVersion;
using protocol::kStatusAccepted;
using protocol::kStatusRejected;
// A counted file is received in pieces of this size (the last one may be
// shorter); a spool file left by a failed transfer holds whole pieces only.
constexpr size_t kFileChunkSize = 8196;
// Pieces are read from the connection and handed to the spool file this
// many at a time (64 KiB per exchange).  One read and one write per piece
// made a 1 GiB stream CPU-bound at about half the rate of a plain 64 KiB
// loopback copy; eight at a time take an eighth of the system calls.
constexpr size_t kChunksPerWrite = 8;

// Ends the connection gracefully: the service's side is shut first, then
// what the client still sends is read and dropped for a short while (at
// most 64 KiB and 250 ms), so that closing with unread input does not reset
// the connection and destroy the statuses on their way; then closes it.
void CloseConnection(int socket);

// Runs on the calling (connection) thread; owns its socket, spool files and
// job values for the exchange's duration.  *channel and *printThread are
// shared with other connections and must outlive Run.
class IntakeExchange {
 public:
  IntakeExchange(EventLogChannel* channel, QueueThread* printThread, std::string printerApplication,
                 std::string printerName);
  IntakeExchange(const IntakeExchange&) = delete;
  IntakeExchange& operator=(const IntakeExchange&) = delete;

  // Runs the whole exchange over the connected socket with the two spool
  // paths, reporting each failure to the event log, and closes the socket
  // before it returns.  When filesReserved, the spool files exist already
  // (empty, made by the listener's name choice) and are opened; otherwise
  // they are created exclusively here.  Before the final status 0 is sent
  // both spool files, their directory entries and the queued job are on
  // disk.  A job the print control could not carry out as asked
  // (JobRefusal) gets the final status 1 and message 5.  When the job is not
  // queued, the exchange removes the spool files that were its own (both
  // reserved ones; only a created one otherwise).  Returns true when the
  // job was queued.
  bool Run(int socket, const std::string& xmlPath, const std::string& xslPath,
           bool filesReserved = true);

  // The client of the exchange and the bounds it is held to (shared with
  // the other connections; it must outlive Run): each document is admitted
  // before a byte of it is written, its client's spooled report is marked
  // with the client's address (kClientAttribute), and the queued job counts
  // for the client.  Without it nothing is bounded per client.  Before Run.
  void SetClient(const PeerAddress& peer, ClientAdmission* admission);

  // The client as SetClient gave it (the address and port a proxy's header
  // named, behind a trusted proxy); FormatPeerEndpoint gives its text.
  const PeerAddress& client() const { return peer_; }

  // The job values as the exchange left them (for tests).
  const JobValues& job() const { return job_; }

 private:
  bool RunSteps(SocketReader& reader, SocketWriter& writer, SpoolFile& xml, SpoolFile& xsl);
  bool SendStatus(SocketWriter& writer, uint16_t status);
  // Receives one counted file; false with messageId reported (or the
  // client's bound, message 36) when it fails.
  bool ReceiveFile(SocketReader& reader, SpoolFile& file, char* pieces, uint32_t messageId);
  bool MakeDurable(SpoolFile& xml, SpoolFile& xsl);
  void Report(uint32_t messageId, const char* text = nullptr);

  EventLogChannel* channel_;
  QueueThread* printThread_;
  JobValues job_;
  PeerAddress peer_;
  ClientAdmission* admission_ = nullptr;
  std::unique_ptr<ClientAdmission::JobClaim> claim_;  // while the documents arrive
  bool refused_ = false;  // the service refused the job (magic, version, what it asks)
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_INTAKE_EXCHANGE_H_
