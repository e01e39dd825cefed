// Allowed-client entries against peers, and the usual text of addresses.
#include "service/intake/peer_address.h"

#include <string>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

namespace kavelo::service {
namespace {

// The peer as the dual-stack socket reports it.
PeerAddress Peer(const std::string& text, uint16_t port = 0) {
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(port);
  EXPECT_EQ(inet_pton(AF_INET6, text.c_str(), &address.sin6_addr), 1) << text;
  PeerAddress peer;
  EXPECT_TRUE(PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&address), sizeof address,
                                        &peer));
  return peer;
}

TEST(AddressPrefixTest, EntriesAgainstPeers) {
  struct Case {
    const char* entry;
    const char* peer;  // as the IPv6 socket sees it: IPv4 peers mapped
    bool contains;
  };
  const Case cases[] = {
      {"10.0.0.0/8", "::ffff:10.200.3.4", true},
      {"10.0.0.0/8", "::ffff:11.0.0.1", false},
      {"192.168.1.20", "::ffff:192.168.1.20", true},  // a whole address: /32
      {"192.168.1.20", "::ffff:192.168.1.21", false},
      {"192.168.1.20/32", "::ffff:192.168.1.20", true},
      {"192.168.1.0/31", "::ffff:192.168.1.1", true},  // the boundary inside a byte
      {"192.168.1.0/31", "::ffff:192.168.1.2", false},
      {"0.0.0.0/0", "::ffff:203.0.113.9", true},  // every IPv4 peer ...
      {"0.0.0.0/0", "2001:db8::1", false},        // ... and no IPv6 one
      {"::/0", "2001:db8::1", true},              // every peer
      {"::/0", "::ffff:127.0.0.1", true},
      {"fd00::/8", "fd12:3456::1", true},
      {"fd00::/8", "fe80::1", false},
      {"::1", "::1", true},  // a whole address: /128
      {"::1/128", "::1", true},
      {"::1/128", "::2", false},
      {"2001:db8::/127", "2001:db8::1", true},
      {"2001:db8::/127", "2001:db8::2", false},
      {"::ffff:10.0.0.0/104", "::ffff:10.1.2.3", true},  // an IPv4 range written mapped
      {"127.0.0.1", "::1", false},  // IPv4 loopback is not IPv6 loopback
  };
  for (const Case& c : cases) {
    AddressPrefix prefix;
    ASSERT_TRUE(AddressPrefix::Parse(c.entry, &prefix)) << c.entry;
    EXPECT_EQ(prefix.Contains(Peer(c.peer)), c.contains) << c.entry << " / " << c.peer;
  }
}

TEST(AddressPrefixTest, InvalidEntriesAreNamed) {
  for (const char* entry : {"10.0.0.0/33", "::/129", "10.0.0/8", "10.0.0.0/", "10.0.0.0/-1",
                            "10.0.0.0/+8", "10.0.0.0/ 8", "host.example", "1.2.3.4.5", "::g",
                            "010.0.0.1", "10.0.0.0/8/8", "fd00::/0008"}) {
    AddressPrefix prefix;
    EXPECT_FALSE(AddressPrefix::Parse(entry, &prefix)) << entry;
  }
  AddressList list;
  std::string invalid;
  EXPECT_FALSE(AddressList::Parse({"10.0.0.0/8", " 192.168.1.300 ", "::1"}, &list, &invalid));
  EXPECT_EQ(invalid, " 192.168.1.300 ");
  EXPECT_TRUE(list.empty());  // nothing of a list with a bad entry is used
  // Blanks around an entry and empty items are no fault.
  ASSERT_TRUE(AddressList::Parse({" 10.0.0.0/8\t", "", "::1"}, &list, &invalid));
  EXPECT_TRUE(list.Contains(Peer("::ffff:10.1.1.1")));
  EXPECT_TRUE(list.Contains(Peer("::1")));
  EXPECT_FALSE(list.Contains(Peer("::ffff:127.0.0.1")));
}

TEST(PeerAddressTest, UsualTextAndTheSameClientOverEitherFamily) {
  struct Case {
    const char* socketAddress;
    uint16_t port;
    const char* address;
    const char* endpoint;
  };
  const Case cases[] = {
      {"::ffff:192.0.2.7", 4711, "192.0.2.7", "192.0.2.7:4711"},
      {"::1", 80, "::1", "[::1]:80"},
      {"2001:DB8:0:0:0:0:0:1", 1, "2001:db8::1", "[2001:db8::1]:1"},
  };
  for (const Case& c : cases) {
    PeerAddress peer = Peer(c.socketAddress, c.port);
    EXPECT_EQ(FormatPeerAddress(peer), c.address);
    EXPECT_EQ(FormatPeerEndpoint(peer), c.endpoint);
    PeerAddress parsed;
    ASSERT_TRUE(PeerAddress::Parse(c.address, &parsed));
    EXPECT_EQ(parsed.Key(), peer.Key());  // the text gives the client back
  }
  // An IPv4 socket's peer is the same client as its mapped form.
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  inet_pton(AF_INET, "192.0.2.7", &v4.sin_addr);
  PeerAddress peer;
  ASSERT_TRUE(PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&v4), sizeof v4, &peer));
  EXPECT_EQ(peer.Key(), Peer("::ffff:192.0.2.7").Key());
  EXPECT_FALSE(PeerAddress::Parse("192.0.2.7%lo", &peer));  // a scope only on link-local IPv6
}

}  // namespace
}  // namespace kavelo::service
