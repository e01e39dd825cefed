// Client addresses as the intake sees them: one form for IPv4 and IPv6
// peers (an IPv4 peer of the dual-stack socket arrives as ::ffff:a.b.c.d
// and is the same client as a.b.c.d), their usual text, and address
// prefixes in CIDR form for the allowed clients.
#ifndef KAVELO_SERVICE_INTAKE_PEER_ADDRESS_H_
#define KAVELO_SERVICE_INTAKE_PEER_ADDRESS_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/socket.h>

namespace kavelo::service {

// A peer's address in 16 bytes: IPv6 as it is, IPv4 as its mapped IPv6
// address (::ffff:a.b.c.d), so that both reach one rule and one client.
struct PeerAddress {
  std::array<uint8_t, 16> bytes{};
  uint32_t scope = 0;  // the interface of a link-local IPv6 address
  uint16_t port = 0;   // not part of the client's identity

  bool IsIpv4() const;
  // The client's identity: the 16 bytes (the port left out).
  std::string Key() const { return std::string(bytes.begin(), bytes.end()); }

  // From an accepted socket's peer address (AF_INET or AF_INET6); false
  // for any other family.
  static bool FromSockaddr(const sockaddr* address, socklen_t length, PeerAddress* peer);
  // From the usual text of an IPv4 or IPv6 address (no prefix length).
  static bool Parse(const std::string& text, PeerAddress* peer);
};

// The usual text of the address: IPv4 as a.b.c.d (never ::ffff:a.b.c.d),
// IPv6 in its shortest form, a link-local one with "%" and its interface.
std::string FormatPeerAddress(const PeerAddress& peer);
// The same with the port: a.b.c.d:port, [v6]:port.
std::string FormatPeerEndpoint(const PeerAddress& peer);

// An address prefix: "10.0.0.0/8", "192.168.1.20" (a whole address),
// "fd00::/8", "::1".  An IPv4 prefix covers the mapped addresses only;
// "::/0" covers every peer.
struct AddressPrefix {
  std::array<uint8_t, 16> bytes{};
  int bits = 128;  // of the 16 bytes, IPv4 lengths counted from bit 96

  // Strict: an address, optionally "/" and a decimal length (at most 32
  // for IPv4, 128 for IPv6) without sign or blanks.
  static bool Parse(const std::string& text, AddressPrefix* prefix);
  bool Contains(const PeerAddress& peer) const;
};

// A list of prefixes, as a REG_MULTI_SZ value gives it.
class AddressList {
 public:
  // Every entry must be a prefix (blanks around one are ignored, empty
  // items skipped); the first that is not is named in *invalid and the
  // result is false.
  static bool Parse(const std::vector<std::string>& entries, AddressList* list,
                    std::string* invalid);
  bool empty() const { return prefixes_.empty(); }
  bool Contains(const PeerAddress& peer) const;

 private:
  std::vector<AddressPrefix> prefixes_;
};

}  // namespace kavelo::service

#endif  // KAVELO_SERVICE_INTAKE_PEER_ADDRESS_H_
