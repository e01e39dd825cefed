#include "service/intake/proxy_header.h"

#include <cstring>

#include <netinet/in.h>

namespace kavelo::service {

namespace {

constexpr uint8_t kSignature[12] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                    0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};

enum : uint8_t { kLocal = 0x0, kProxy = 0x1 };
enum : uint8_t { kUnspec = 0x0, kInet = 0x1, kInet6 = 0x2, kUnix = 0x3 };
enum : uint8_t { kTransportUnspec = 0x0, kStream = 0x1, kDgram = 0x2 };

}  // namespace

ProxyParse ParseProxyHeader(const uint8_t* data, size_t size, ProxyHeader* header,
                            size_t* needed) {
  *header = ProxyHeader();
  // The signature is checked as far as it has come, so that a stream that
  // is no header is refused at its first wrong byte.
  size_t signature = size < sizeof kSignature ? size : sizeof kSignature;
  if (signature > 0 && std::memcmp(data, kSignature, signature) != 0) return ProxyParse::kInvalid;
  if (size < kProxyHeaderFixed) {
    *needed = kProxyHeaderFixed;
    return ProxyParse::kNeedMore;
  }
  const uint8_t version = data[12] >> 4;
  const uint8_t command = data[12] & 0x0F;
  const uint8_t family = data[13] >> 4;
  const uint8_t transport = data[13] & 0x0F;
  const size_t length = kProxyHeaderFixed + ((size_t{data[14]} << 8) | data[15]);
  if (version != 2 || (command != kLocal && command != kProxy) || family > kUnix ||
      transport > kDgram || length > kProxyHeaderMax) {
    return ProxyParse::kInvalid;
  }
  static constexpr size_t kAddressBytes[] = {0, 12, 36, 216};  // by family
  if (command == kProxy && length - kProxyHeaderFixed < kAddressBytes[family]) {
    return ProxyParse::kInvalid;
  }
  if (command == kProxy && family != kUnspec && transport != kStream) {
    return ProxyParse::kInvalid;  // the intake is TCP
  }
  if (size < length) {
    *needed = length;
    return ProxyParse::kNeedMore;
  }
  header->length = length;
  if (command != kProxy || (family != kInet && family != kInet6)) return ProxyParse::kComplete;
  const uint8_t* addresses = data + kProxyHeaderFixed;
  if (family == kInet) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    std::memcpy(&source.sin_addr, addresses, 4);
    std::memcpy(&source.sin_port, addresses + 8, 2);  // both in network order
    PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&source), sizeof source,
                              &header->client);
  } else {
    sockaddr_in6 source{};
    source.sin6_family = AF_INET6;
    std::memcpy(&source.sin6_addr, addresses, 16);
    std::memcpy(&source.sin6_port, addresses + 32, 2);
    PeerAddress::FromSockaddr(reinterpret_cast<sockaddr*>(&source), sizeof source,
                              &header->client);
  }
  header->hasClient = true;
  return ProxyParse::kComplete;
}

}  // namespace kavelo::service
