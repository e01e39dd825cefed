#include "service/intake/intake_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include <sys/socket.h>

#include "common/exceptions.h"
#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/intake/job_limits.h"
#include "service/intake/socket_stream.h"
#include "service/intake/spool_file.h"
#include "service/queue/queue_thread.h"
#include "service/status/service_counters.h"

namespace kavelo::service {

// The drain is bounded in bytes and in time as a whole: a client that keeps
// sending a byte now and then does not hold it.
void CloseConnection(int socket) {
  shutdown(socket, SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
  char sink[4096];
  size_t drained = 0;
  while (drained < (64u << 10)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{socket, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    ssize_t got = recv(socket, sink, sizeof sink, MSG_DONTWAIT);
    if (got <= 0) break;
    drained += static_cast<size_t>(got);
  }
  close(socket);
}

namespace {

// Who sent the job and how big its documents are, for the job history.  An
// exchange run without a client set (tests) takes the socket's peer.
JobOrigin OriginOf(int socket, const PeerAddress& client, bool clientSet, const JobValues& job) {
  JobOrigin origin;
  PeerAddress peer = client;
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (clientSet || (getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                    PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&address), length,
                                              &peer))) {
    origin.clientAddress = FormatPeerAddress(peer);
    origin.clientPort = peer.port;
  }
  struct stat info;
  if (stat(job.xmlPath.c_str(), &info) == 0) origin.xmlBytes = info.st_size;
  if (stat(job.xslPath.c_str(), &info) == 0) origin.xslBytes = info.st_size;
  return origin;
}

}  // namespace

IntakeExchange::IntakeExchange(EventLogChannel* channel, QueueThread* printThread,
                               std::string printerApplication, std::string printerName)
    : channel_(channel), printThread_(printThread) {
  job_.printerApplication = std::move(printerApplication);
  job_.printerName = std::move(printerName);
}

void IntakeExchange::Report(uint32_t messageId, const char* text) {
  if (channel_ != nullptr) channel_->Report(platform::EventType::kError, messageId, text);
}

bool IntakeExchange::SendStatus(SocketWriter& writer, uint16_t status) {
  if (writer.WriteStatus(status)) return true;
  Report(kMsgFinalResponseFailed);
  return false;
}

void IntakeExchange::SetClient(const PeerAddress& peer, ClientAdmission* admission) {
  peer_ = peer;
  admission_ = admission;
}

bool IntakeExchange::ReceiveFile(SocketReader& reader, SpoolFile& file, char* pieces,
                                 uint32_t messageId) {
  uint32_t remaining;
  if (!reader.ReadU32(&remaining)) {
    Report(messageId);
    return false;
  }
  // Admitted before a byte of it is written.
  if (admission_ != nullptr) {
    if (!claim_) claim_ = std::make_unique<ClientAdmission::JobClaim>(admission_, peer_);
    std::string bound;
    switch (claim_->AdmitDocument(remaining, &bound)) {
      case ClientAdmission::JobClaim::Verdict::kAdmitted:
        break;
      case ClientAdmission::JobClaim::Verdict::kClientBound:
        refused_ = true;
        if (channel_ != nullptr) {
          channel_->Report(platform::EventType::kWarning, kMsgClientBoundReached,
                           FormatPeerAddress(peer_).c_str(), bound.c_str());
        }
        return false;
      case ClientAdmission::JobClaim::Verdict::kSpoolReserve:
        refused_ = true;
        Report(messageId);
        return false;
    }
  }
  while (remaining > 0) {
    // Up to kChunksPerWrite pieces of kFileChunkSize bytes in one read and
    // one write.  When the read falls short, the whole pieces it delivered
    // still reach the file and the piece that fell short does not, so the
    // file is the same as after one read and one write per piece.
    const size_t batch = kChunksPerWrite * kFileChunkSize;
    size_t n = remaining < batch ? remaining : batch;
    size_t got = 0;
    bool complete = reader.Read(pieces, n, &got);
    size_t whole = complete ? n : got - got % kFileChunkSize;
    if (whole > 0 && !file.Write(pieces, whole)) {
      Report(messageId);
      return false;
    }
    Counters().IntakeBytes(whole);
    if (claim_) claim_->Written(whole);
    if (!complete) {
      Report(messageId);
      return false;
    }
    remaining -= static_cast<uint32_t>(n);
  }
  return true;
}

bool IntakeExchange::RunSteps(SocketReader& reader, SocketWriter& writer, SpoolFile& xml,
                              SpoolFile& xsl) {
  // Each receive step has an overall limit besides each read's time-out.
  // 1. Magic number.
  reader.BeginStep();
  uint32_t magic;
  if (!reader.ReadU32(&magic)) {
    Report(kMsgBadMagic);
    return false;
  }
  if (magic != kIntakeMagic) {
    refused_ = true;
    SendStatus(writer, kStatusRejected);
    Report(kMsgBadMagic);
    return false;
  }
  if (!SendStatus(writer, kStatusAccepted)) return false;

  // 2. Version challenge: the service's version goes out before the
  // verdict, also when the client's version is wrong.
  std::string version;
  reader.BeginStep();
  if (!reader.ReadCountedString(&version) || !writer.WriteCountedString(kIntakeVersion)) {
    Report(kMsgVersionChallengeFailed);
    return false;
  }
  if (strcasecmp(version.c_str(), kIntakeVersion) != 0) {
    refused_ = true;
    SendStatus(writer, kStatusRejected);
    Report(kMsgVersionChallengeFailed);
    return false;
  }
  if (!SendStatus(writer, kStatusAccepted)) return false;

  // 3. Print options.  A text that holds nothing usable still gets status 0.
  std::string options;
  reader.BeginStep();
  if (!reader.ReadCountedString(&options)) {
    Report(kMsgOptionsReceiveFailed);
    return false;
  }
  if (!options.empty()) ApplyPrintOptions(options.c_str(), &job_);
  if (!SendStatus(writer, kStatusAccepted)) return false;

  // 4 and 5. The two documents, streamed to disk piece by piece.
  auto pieces = std::make_unique<char[]>(kChunksPerWrite * kFileChunkSize);
  reader.BeginStep();
  if (!ReceiveFile(reader, xml, pieces.get(), kMsgXmlReceiveFailed)) return false;
  reader.BeginStep();
  if (!ReceiveFile(reader, xsl, pieces.get(), kMsgXslReceiveFailed)) return false;
  return SendStatus(writer, kStatusAccepted);
}

bool IntakeExchange::MakeDurable(SpoolFile& xml, SpoolFile& xsl) {
  // A job the client is told is queued must survive a crash of the service
  // or the machine: its documents and their names reach the disk first.
  if (!xml.Sync()) {
    Report(kMsgXmlReceiveFailed);
    return false;
  }
  if (!xsl.Sync()) {
    Report(kMsgXslReceiveFailed);
    return false;
  }
  return true;
}

bool IntakeExchange::Run(int socket, const std::string& xmlPath, const std::string& xslPath,
                         bool filesReserved) {
  job_.xmlPath = xmlPath;
  job_.xslPath = xslPath;
  SocketReader reader(socket);
  SocketWriter writer(socket);
  SpoolFile xml;
  SpoolFile xsl;
  // The spool files of this exchange: reserved for it by the listener, or
  // created by it.  Whatever fails before the job is queued removes them,
  // since nothing in them was acknowledged; a file of that name that was
  // there before is never touched.
  bool ownXml = filesReserved;
  bool ownXsl = filesReserved;
  auto discard = [&] {
    if (ownXml) unlink(job_.xmlPath.c_str());
    if (ownXsl) unlink(job_.xslPath.c_str());
  };

  // 0. Spool files.
  auto open = [filesReserved](SpoolFile& file, const std::string& path) {
    return filesReserved ? file.OpenReserved(path) : file.CreateExclusive(path);
  };
  if (open(xml, job_.xmlPath) != 0) {
    Report(kMsgTempFileFailed, job_.xmlPath.c_str());
    discard();
    CloseConnection(socket);
    Counters().JobReceived(IntakeResult::kFailed);
    return false;
  }
  ownXml = true;
  bool result = false;
  if (open(xsl, job_.xslPath) != 0) {
    Report(kMsgTempFileFailed, job_.xslPath.c_str());
    xml.Close();
  } else {
    ownXsl = true;
    try {
      result = RunSteps(reader, writer, xml, xsl);
    } catch (const std::exception& e) {
      Report(kMsgSocketIoError, ExceptionReportText(e).c_str());
      result = false;
    }
    // 6. Hand-over.  A job the print control could not carry out as asked
    // is refused here, before anything of it is queued or persisted.
    if (result) {
      std::string refusal = JobRefusal(job_);
      if (!refusal.empty()) {
        Report(kMsgExceptionCaught, ("Job refused: " + refusal).c_str());
        refused_ = true;
        result = false;
      }
    }
    // The client's address goes with its report, so that what it has
    // queued is known again after a restart.  A file system without
    // extended attributes keeps the job; it then counts for nobody there.
    if (result && admission_ != nullptr) {
      xml.SetAttribute(kClientAttribute, FormatPeerAddress(peer_));
    }
    if (result) result = MakeDurable(xml, xsl);
    xsl.Close();
    xml.Close();
    for (const std::string& path : {job_.xmlPath, job_.xslPath}) {
      std::string directory = DirectoryOf(path);
      if (result && !SpoolFile::SyncDirectory(directory)) {
        Report(kMsgTempFileFailed, directory.c_str());
        result = false;
      }
      if (DirectoryOf(job_.xslPath) == DirectoryOf(job_.xmlPath)) break;
    }
    if (result) {
      try {
        result = printThread_->AddJob(job_.printerApplication.c_str(), job_.xmlPath.c_str(),
                                      job_.xslPath.c_str(), job_.printerName.c_str(),
                                      job_.orientation, job_.copies, job_.fromPage, job_.toPage,
                                      OriginOf(socket, peer_, admission_ != nullptr, job_));
        if (result && claim_) claim_->Commit(job_.xmlPath);
      } catch (const std::exception& e) {
        Report(kMsgSocketIoError, ExceptionReportText(e).c_str());
        discard();
        CloseConnection(socket);
        Counters().JobReceived(IntakeResult::kFailed);
        return false;
      }
    }
  }
  if (!result) discard();
  claim_.reset();  // what was not queued counts no more
  // 7. Final status.
  if (!writer.WriteStatus(result ? kFinalQueued : kFinalNotQueued)) {
    Report(kMsgFinalResponseFailed);
  }
  // 8. Close.
  CloseConnection(socket);
  Counters().JobReceived(result     ? IntakeResult::kQueued
                         : refused_ ? IntakeResult::kRefused
                                    : IntakeResult::kFailed);
  return result;
}

}  // namespace kavelo::service
