// The PROXY protocol, version 2 (HAProxy's send-proxy-v2): the header a
// trusted proxy puts in front of the intake exchange to name the client it
// forwards.  Hostile-input safe: every length is checked against the bytes
// at hand and against kProxyHeaderMax.
#ifndef KAVELO_SERVICE_INTAKE_PROXY_HEADER_H_
#define KAVELO_SERVICE_INTAKE_PROXY_HEADER_H_

#include <cstddef>
#include <cstdint>

#include "service/intake/peer_address.h"

namespace kavelo::service {

// The fixed part: 12 bytes of signature, version and command, family and
// transport, the 16-bit length of what follows.
constexpr size_t kProxyHeaderFixed = 16;
// The longest header taken (the fixed part, the addresses and the TLVs a
// proxy adds); a longer one is refused.
constexpr size_t kProxyHeaderMax = 1024;

struct ProxyHeader {
  size_t length = 0;    // of the whole header
  bool hasClient = false;  // PROXY over TCP with an IPv4 or IPv6 source
  PeerAddress client;      // that source, with its port
};

enum class ProxyParse {
  kComplete,  // *header is set
  kNeedMore,  // *needed: the header's whole length (at most kProxyHeaderMax)
  kInvalid,   // not a version 2 header, or one the intake does not take
};

// Parses the header at the start of data[0..size).  A LOCAL command (the
// proxy's own check) and a PROXY command for another family (UNSPEC, UNIX)
// give no client: the connection is the proxy's own.  A PROXY command over
// datagrams, an unknown version, command, family or transport, and a length
// too short for the family's addresses are invalid.
ProxyParse ParseProxyHeader(const uint8_t* data, size_t size, ProxyHeader* header,
                            size_t* needed);

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_INTAKE_PROXY_HEADER_H_
