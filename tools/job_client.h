// A client of the job intake protocol: sends one print job (option text,
// XML report, XSL stylesheet) to the print service and tells what the
// service answered at each step.  Used by kavelo-send, the tests and the
// benchmarks.
#ifndef KAVELO_TOOLS_JOB_CLIENT_H_
#define KAVELO_TOOLS_JOB_CLIENT_H_

#include <cstdint>
#include <functional>
#include <string>

namespace kavelo {

// The steps of the exchange, in order.
enum class JobStep {
  kConnect,
  kMagic,
  kVersion,
  kOptions,
  kDocuments,
  kFinal,
};

// How an exchange ended.
enum class JobOutcome {
  kQueued,   // final status 0: the service queued the job
  kRefused,  // the service answered 0xFFFF or the final status 1
  kFailed,   // network or protocol failure: no answer, or an unexpected one
};

struct JobResult {
  JobOutcome outcome = JobOutcome::kFailed;
  JobStep step = JobStep::kConnect;  // the step at which it ended
  std::string serviceVersion;        // as the service sent it, when it did
  std::string detail;                // what went wrong, in plain words
};

// A document to send: a file by path, or bytes in memory.
struct JobDocument {
  std::string path;  // when not empty, the file is streamed
  std::string data;  // otherwise these bytes are sent
};

class JobClient {
 public:
  // timeoutMs bounds the connect and every single send and receive.
  JobClient(std::string host, int port, int timeoutMs = 60000);

  // Called after each step the service answered: the step and a sentence.
  void OnStep(std::function<void(JobStep, const std::string&)> callback) {
    onStep_ = std::move(callback);
  }
  // Called while the documents stream out: bytes sent so far, bytes total.
  void OnProgress(std::function<void(uint64_t, uint64_t)> callback) {
    onProgress_ = std::move(callback);
  }

  // The local address the connection comes from (empty: the system's
  // choice).
  void set_source_address(std::string address) { sourceAddress_ = std::move(address); }

  // Runs one exchange on a new connection.  Never throws for network or
  // file failures: they end in kFailed with a detail.
  JobResult Send(const std::string& options, const JobDocument& xml, const JobDocument& xsl);

 private:
  std::string host_;
  int port_;
  int timeoutMs_;
  std::string sourceAddress_;
  std::function<void(JobStep, const std::string&)> onStep_;
  std::function<void(uint64_t, uint64_t)> onProgress_;
};

// Opens a TCP connection to host:port, waiting at most timeoutMs for it;
// the socket gets that limit as its receive and send time-outs.  Returns
// the socket, or -1 with *error set to a sentence.  sourceAddress (when not
// empty) is the local address to connect from.
int ConnectTcp(const std::string& host, int port, int timeoutMs, std::string* error,
               const std::string& sourceAddress = "");

}  // namespace kavelo

#endif  // KAVELO_TOOLS_JOB_CLIENT_H_
