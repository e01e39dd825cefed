// The service's door for print jobs: the listening socket, the accept loop,
// the spool name choice and one connection thread per accepted connection.
#ifndef KAVELO_SERVICE_INTAKE_LISTENER_H_
#define KAVELO_SERVICE_INTAKE_LISTENER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "common/parameter_values.h"
#include "service/intake/client_admission.h"
#include "service/intake/peer_address.h"
#include "service/queue/worker_thread.h"

namespace kavelo::service {

class EventLogChannel;
class QueueThread;

// The listener's copy of the service parameters it uses.
struct IntakeSettings {
  int32_t port = 4000;
  int32_t maxConnections = 10;  // backlog of the listening socket
  int32_t keepAlive = 1;
  int32_t timeout = 300000;  // receive time-out of each connection, ms
  int32_t sendBuffer = 4096;
  int32_t recvBuffer = 4096;
  std::string printerApplication;
  int32_t useDefaultPrinter = 1;  // held; the intake does not use it
  std::string printerName;        // as settled by the start-up checks
  std::string spoolerDirectory;
  // The local address to listen on (ListenAddress: an IPv4 or IPv6
  // address); empty means every local address, IPv6 and IPv4 on one
  // socket (IPv4 alone where the machine has no IPv6).
  std::string bindAddress;
  // Who may connect, and how much each client may hold; none by default.
  ClientLimits limits;
};

// Picks two free spool names "%s/%08d.xml" and "%s/%08d.xsl" for one number
// n = seconds since 1970 + thread id + process id (a 32-bit sum), moving on
// while either name is taken, and reserves both by creating the files
// exclusively (empty).  Never fails: when the files cannot be created for
// another reason than a taken name, the names are returned unreserved and
// the exchange reports that it cannot open them.
//
// *next (when given) is the caller's memory of the numbers it has used: a
// number below it is not tried (it is taken, or was a moment ago), and it
// is set past the number chosen.  Without it, a spool folder that keeps
// many files makes every choice walk through all of their numbers again.
std::pair<std::string, std::string> ChooseSpoolNames(const std::string& spoolDirectory,
                                                     uint32_t* next = nullptr);

// Opens the listening socket of the address (empty: every address,
// dual-stack where the machine has IPv6) and port with the backlog.
// Returns the socket, or -1 with errno set.
int OpenListeningSocket(const std::string& address, int32_t port, int32_t backlog);

// A WorkerThread without wake-on-stop.  Initialize before Start; the fields
// are read without a lock afterwards by the listener thread and every
// connection thread.
class IntakeListener : public WorkerThread {
 public:
  IntakeListener();
  // Stops the listener and its connections (see Stop).
  ~IntakeListener() override;

  // *channel and *printThread are shared with the connection threads and
  // must outlive this listener.  Raises NullPointerException when either is
  // missing.
  void Initialize(EventLogChannel* channel, QueueThread* printThread,
                  const IntakeSettings& settings);
  // The same from the service parameters as the start-up checks settled
  // them, the address to listen on (empty: every local address) and the
  // client bounds.
  void Initialize(EventLogChannel* channel, QueueThread* printThread,
                  const ParameterValues& values, const std::string& listenAddress = "",
                  const ClientLimits& limits = ClientLimits());

  // Clears the running flag, wakes a blocked accept (the loop reports no
  // event 20 for it), and waits until the listener thread has ended (it
  // reports event 21).  Then ends every open exchange at once: each
  // connection's socket is shut down both ways, so its exchange takes its
  // failure path (events and all), and Stop joins every connection thread.
  // When Stop returns no thread of this listener runs, so the objects they
  // use (the event channel, the print thread) may go.
  void Stop() override;

  // Waits up to timeoutMs for the listening socket; returns the port it is
  // bound to, or 0 when the listener could not listen (or ended).
  int32_t WaitListening(int32_t timeoutMs);

  // Connection threads that have not ended yet.
  int32_t activeConnections() const { return activeConnections_.load(); }
  // Waits up to timeoutMs for every connection thread to end; true when
  // none is left.
  bool WaitConnectionsIdle(int32_t timeoutMs);

  const IntakeSettings& settings() const { return settings_; }
  // The client bounds and counts, as Initialize configured them.
  ClientAdmission& admission() { return admission_; }

 protected:
  void Run() override;

 private:
  struct AcceptedConnection;
  // One connection thread and a duplicate of its socket.  The duplicate is
  // closed only after the thread has been joined, so shutting it down in
  // Stop always reaches this connection's socket, never a descriptor that
  // the number was given to again.
  struct Connection {
    std::thread thread;
    int socket = -1;
    bool ended = false;  // guarded by connectionsMutex_
  };
  using ConnectionList = std::list<Connection>;

  static void ConnectionEntry(AcceptedConnection* connection);
  bool ListenLoop(int listener);
  // The bounds applied before a byte of the exchange is read: a client
  // outside the allowed clients, or at its connection bound, is closed at
  // once and reported at most once a minute.  True when the connection may
  // be served (its connection counted).  The listener thread applies them
  // to every peer but a trusted proxy (no thread, no spool file for a
  // refused one); a connection thread to the client a proxy's header names.
  bool AdmitClient(int socket, const PeerAddress& peer);
  // Starts the connection thread; a direct client's spool names are chosen
  // here, a proxied one's once its client is admitted.
  void Serve(int socket, const PeerAddress& peer, bool viaProxy);
  // ChooseSpoolNames with the listener's memory of used numbers.
  std::pair<std::string, std::string> NextSpoolNames();
  // Reads a trusted proxy's PROXY protocol header into *client (the proxy
  // itself when the header names no client).  A connection without a valid
  // header is refused like a bad magic number (status 0xFFFF, final status
  // 1, event 25) and closed; false then.
  bool ReceiveProxyHeader(int socket, PeerAddress* client);
  void PublishPort(int32_t port);
  void ConnectionEnded(ConnectionList::iterator connection);
  // Joins the connection threads that have ended and closes their socket
  // duplicates.  Listener thread.
  void ReapEndedConnections();
  void StopConnections();
  bool PauseAfterAcceptFailure();

  EventLogChannel* channel_ = nullptr;
  QueueThread* printThread_ = nullptr;
  IntakeSettings settings_;
  ClientAdmission admission_;
  int wakeFd_ = -1;  // an eventfd that Stop signals to wake a blocked accept

  std::mutex stateMutex_;
  std::condition_variable stateChanged_;
  int32_t boundPort_ = -1;        // guarded by stateMutex_: -1 not yet, 0 failed
  std::mutex spoolNamesMutex_;
  uint32_t nextSpoolNumber_ = 0;  // guarded by spoolNamesMutex_; 0: none chosen yet
  std::atomic<int32_t> activeConnections_{0};

  std::mutex connectionsMutex_;
  ConnectionList connections_;  // guarded by connectionsMutex_
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_INTAKE_LISTENER_H_
