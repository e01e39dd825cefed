#include "service/intake/peer_address.h"

#include <cstring>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace kavelo::service {

namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

void MapIpv4(const void* ipv4, std::array<uint8_t, 16>* bytes) {
  std::memcpy(bytes->data(), kMappedPrefix, sizeof kMappedPrefix);
  std::memcpy(bytes->data() + 12, ipv4, 4);
}

bool IsLinkLocal(const std::array<uint8_t, 16>& bytes) {
  return bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80;
}

// An address without prefix length or scope into 16 bytes; *ipv4 tells
// which family the text was.
bool ParseBytes(const std::string& text, std::array<uint8_t, 16>* bytes, bool* ipv4) {
  in_addr v4;
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    MapIpv4(&v4, bytes);
    *ipv4 = true;
    return true;
  }
  *ipv4 = false;
  return inet_pton(AF_INET6, text.c_str(), bytes->data()) == 1;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

bool PeerAddress::IsIpv4() const {
  return std::memcmp(bytes.data(), kMappedPrefix, sizeof kMappedPrefix) == 0;
}

bool PeerAddress::FromSockaddr(const sockaddr* address, socklen_t length, PeerAddress* peer) {
  *peer = PeerAddress();
  if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    MapIpv4(&v4->sin_addr, &peer->bytes);
    peer->port = ntohs(v4->sin_port);
    return true;
  }
  if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    std::memcpy(peer->bytes.data(), &v6->sin6_addr, 16);
    peer->scope = IsLinkLocal(peer->bytes) ? v6->sin6_scope_id : 0;
    peer->port = ntohs(v6->sin6_port);
    return true;
  }
  return false;
}

bool PeerAddress::Parse(const std::string& text, PeerAddress* peer) {
  *peer = PeerAddress();
  size_t percent = text.find('%');
  bool ipv4 = false;
  if (!ParseBytes(text.substr(0, percent), &peer->bytes, &ipv4)) return false;
  if (percent == std::string::npos) return true;
  if (ipv4 || !IsLinkLocal(peer->bytes)) return false;
  std::string scope = text.substr(percent + 1);
  peer->scope = if_nametoindex(scope.c_str());
  if (peer->scope == 0 && !scope.empty() && scope.find_first_not_of("0123456789") == std::string::npos) {
    peer->scope = static_cast<uint32_t>(std::strtoul(scope.c_str(), nullptr, 10));
  }
  return peer->scope != 0;
}

std::string FormatPeerAddress(const PeerAddress& peer) {
  char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 2];
  if (peer.IsIpv4()) {
    inet_ntop(AF_INET, peer.bytes.data() + 12, text, sizeof text);
    return text;
  }
  inet_ntop(AF_INET6, peer.bytes.data(), text, sizeof text);
  std::string result = text;
  if (peer.scope != 0) {
    char name[IF_NAMESIZE];
    result += "%";
    result += if_indextoname(peer.scope, name) != nullptr ? name : std::to_string(peer.scope);
  }
  return result;
}

std::string FormatPeerEndpoint(const PeerAddress& peer) {
  std::string address = FormatPeerAddress(peer);
  std::string port = std::to_string(peer.port);
  return peer.IsIpv4() ? address + ":" + port : "[" + address + "]:" + port;
}

bool AddressPrefix::Parse(const std::string& text, AddressPrefix* prefix) {
  *prefix = AddressPrefix();
  size_t slash = text.find('/');
  bool ipv4 = false;
  if (!ParseBytes(text.substr(0, slash), &prefix->bytes, &ipv4)) return false;
  const int maxLength = ipv4 ? 32 : 128;
  int length = maxLength;
  if (slash != std::string::npos) {
    std::string digits = text.substr(slash + 1);
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    length = std::stoi(digits);
    if (length > maxLength) return false;
  }
  prefix->bits = ipv4 ? 96 + length : length;
  return true;
}

bool AddressPrefix::Contains(const PeerAddress& peer) const {
  int whole = bits / 8;
  if (std::memcmp(bytes.data(), peer.bytes.data(), static_cast<size_t>(whole)) != 0) return false;
  int rest = bits % 8;
  if (rest == 0) return true;
  uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (bytes[whole] & mask) == (peer.bytes[whole] & mask);
}

bool AddressList::Parse(const std::vector<std::string>& entries, AddressList* list,
                        std::string* invalid) {
  list->prefixes_.clear();
  for (const std::string& entry : entries) {
    std::string text = Trim(entry);
    if (text.empty()) continue;
    AddressPrefix prefix;
    if (!AddressPrefix::Parse(text, &prefix)) {
      *invalid = entry;
      list->prefixes_.clear();
      return false;
    }
    list->prefixes_.push_back(prefix);
  }
  return true;
}

bool AddressList::Contains(const PeerAddress& peer) const {
  for (const AddressPrefix& prefix : prefixes_) {
    if (prefix.Contains(peer)) return true;
  }
  return false;
}

}  // namespace kavelo::service
