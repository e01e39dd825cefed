// One intake exchange over a socketpair: the input is every byte the client
// sends, then the client shuts its side for writing.  The exchange writes
// its spool files into the scratch folder, which is emptied after each run;
// its events go to a channel that is not registered, so nothing is logged.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include <sys/socket.h>
#include <sys/time.h>

#include "fuzz/fuzz_support.h"
#include "service/host/event_log_channel.h"
#include "service/intake/intake_exchange.h"
#include "service/queue/queue_thread.h"

namespace {

// Big enough for any input libFuzzer hands over (scripts/fuzz.sh caps it
// with -max_len) plus the service's replies, so the client's bytes can be
// written in full before the exchange runs on the same thread.
constexpr int kSocketBuffer = 1 << 20;
constexpr size_t kMaxInput = 256 * 1024;

void MakeEmpty(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return -1;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) __builtin_trap();
  const int client = pair[0];
  const int service = pair[1];
  for (int fd : pair) {
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
  }
  // Every wait of the exchange ends: the client's side is shut below, and a
  // receive that still blocks gives up after a second.
  timeval limit{1, 0};
  setsockopt(service, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  size_t sent = 0;
  while (sent < size) {
    ssize_t n = send(client, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;  // the buffer is full: the rest never arrives
    sent += static_cast<size_t>(n);
  }
  shutdown(client, SHUT_WR);

  const std::string xml = kavelo::fuzz::ScratchDir() + "/00000001.xml";
  const std::string xsl = kavelo::fuzz::ScratchDir() + "/00000001.xsl";
  MakeEmpty(xml);  // reserved by the listener's name choice
  MakeEmpty(xsl);
  {
    kavelo::service::EventLogChannel channel;
    kavelo::service::QueueThread queue(false);  // not started: AddJob only lists the job
    kavelo::service::IntakeExchange exchange(&channel, &queue, "/opt/kavelo/PrintService/Ostrevo",
                                             "lp0");
    exchange.Run(service, xml, xsl, true);  // closes the service's side
  }
  char sink[4096];
  while (recv(client, sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  close(client);
  kavelo::fuzz::ClearScratchDir();
  return 0;
}
