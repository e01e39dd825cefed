// The service's control socket: operators' actions on jobs (cancel, hold,
// release, retry) from kavelo-jobs, over a Unix socket beside the registry
// hives (jobs/job_control.h has the wire format).  Never TCP.
//
// The socket is mode 0770; besides, the peer's credentials (SO_PEERCRED)
// are checked: root, the service's account, or a member of its group.  Any
// other user gets "error" with the reason, and an event.  Each action is one
// event naming the job and the user.  One connection at a time, each read
// limited in time and bytes; the loop also runs the history's upkeep.
#ifndef KAVELO_SERVICE_CONTROL_SOCKET_H_
#define KAVELO_SERVICE_CONTROL_SOCKET_H_

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>

namespace kavelo::service {

class EventLogChannel;
class PrintThread;

// True when the user (uid, primary gid) may steer the jobs of a service
// running with serviceUid / serviceGid: root, the same account, or a
// member of the service's group (primary or supplementary).
bool MayControlJobs(uid_t uid, gid_t gid, uid_t serviceUid, gid_t serviceGid);

class ControlSocket {
 public:
  ControlSocket() = default;
  ~ControlSocket();
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

  // Binds the socket at path and starts its thread.  A live socket of
  // another service there is left alone (false, reported); a stale one is
  // replaced.  *channel and *printThread must outlive Stop.
  bool Start(EventLogChannel* channel, PrintThread* printThread, const std::string& path);
  // Ends the thread within a poll slice (or the action in progress) and
  // removes the socket.
  void Stop();

 private:
  void Run();
  void Serve(int connection);

  EventLogChannel* channel_ = nullptr;
  PrintThread* printThread_ = nullptr;
  std::string path_;
  int listener_ = -1;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_CONTROL_SOCKET_H_
