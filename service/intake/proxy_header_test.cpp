// PROXY protocol version 2 headers, good and hostile.
#include "service/intake/proxy_header.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kavelo::service {
namespace {

const std::string kSignature("\r\n\r\n\0\r\nQUIT\n", 12);

std::string Header(uint8_t versionCommand, uint8_t familyTransport, const std::string& body,
                   int length = -1) {
  size_t n = length < 0 ? body.size() : static_cast<size_t>(length);
  return kSignature + std::string{static_cast<char>(versionCommand),
                                  static_cast<char>(familyTransport),
                                  static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)} +
         body;
}

// Source 192.0.2.1:4711, destination 198.51.100.2:4000.
const std::string kInetBody("\xC0\x00\x02\x01\xC6\x33\x64\x02\x12\x67\x0F\xA0", 12);
// Source [2001:db8::5]:80, destination [::1]:4000.
const std::string kInet6Body = std::string("\x20\x01\x0D\xB8", 4) + std::string(11, '\0') +
                               "\x05" + std::string(15, '\0') + "\x01" +
                               std::string("\x00\x50\x0F\xA0", 4);
const std::string kMappedBody = std::string(10, '\0') + std::string("\xFF\xFF\x0A\x00\x00\x01", 6) +
                                std::string(15, '\0') + "\x01" + std::string("\x00\x50\x0F\xA0", 4);

TEST(ProxyHeaderTest, HeadersGoodAndHostile) {
  struct Case {
    const char* what;
    std::string bytes;
    ProxyParse result;
    size_t lengthOrNeeded;  // header length when complete, bytes needed when more
    const char* client;     // "" when the header names none
  };
  const std::string tlv("\x04\x00\x03" "abc", 6);  // a TLV after the addresses
  const std::string inet = Header(0x21, 0x11, kInetBody);
  const Case cases[] = {
      {"PROXY TCP4", inet, ProxyParse::kComplete, 28, "192.0.2.1:4711"},
      {"PROXY TCP6", Header(0x21, 0x21, kInet6Body), ProxyParse::kComplete, 52,
       "[2001:db8::5]:80"},
      {"PROXY TCP6, mapped IPv4", Header(0x21, 0x21, kMappedBody), ProxyParse::kComplete, 52,
       "10.0.0.1:80"},
      {"TLVs after the addresses", Header(0x21, 0x11, kInetBody + tlv), ProxyParse::kComplete, 34,
       "192.0.2.1:4711"},
      {"the intake's bytes behind it stay", inet + "XPRN", ProxyParse::kComplete, 28,
       "192.0.2.1:4711"},
      {"LOCAL: the proxy's own check", Header(0x20, 0x00, ""), ProxyParse::kComplete, 16, ""},
      {"LOCAL with addresses", Header(0x20, 0x11, kInetBody), ProxyParse::kComplete, 28, ""},
      {"PROXY UNSPEC", Header(0x21, 0x00, ""), ProxyParse::kComplete, 16, ""},
      {"PROXY over a UNIX socket", Header(0x21, 0x31, std::string(216, 'u')),
       ProxyParse::kComplete, 232, ""},
      {"nothing yet", "", ProxyParse::kNeedMore, 16, ""},
      {"half a signature", kSignature.substr(0, 5), ProxyParse::kNeedMore, 16, ""},
      {"the fixed part only", inet.substr(0, 16), ProxyParse::kNeedMore, 28, ""},
      {"addresses cut", inet.substr(0, 27), ProxyParse::kNeedMore, 28, ""},
      {"the intake's magic number", "XPRN", ProxyParse::kInvalid, 0, ""},
      {"version 1 text", "PROXY TCP4 192.0.2.1 198.51.100.2 4711 4000\r\n", ProxyParse::kInvalid,
       0, ""},
      {"a wrong byte late in the signature", kSignature.substr(0, 11) + "X", ProxyParse::kInvalid,
       0, ""},
      {"version 1 in binary", Header(0x11, 0x11, kInetBody), ProxyParse::kInvalid, 0, ""},
      {"version 3", Header(0x31, 0x11, kInetBody), ProxyParse::kInvalid, 0, ""},
      {"command 2", Header(0x22, 0x11, kInetBody), ProxyParse::kInvalid, 0, ""},
      {"family 4", Header(0x21, 0x41, kInetBody), ProxyParse::kInvalid, 0, ""},
      {"transport 3", Header(0x21, 0x13, kInetBody), ProxyParse::kInvalid, 0, ""},
      {"PROXY over datagrams", Header(0x21, 0x12, kInetBody), ProxyParse::kInvalid, 0, ""},
      {"IPv4 addresses cut short", Header(0x21, 0x11, kInetBody.substr(0, 11)),
       ProxyParse::kInvalid, 0, ""},
      {"IPv6 length for IPv4 bytes", Header(0x21, 0x21, kInetBody), ProxyParse::kInvalid, 0, ""},
      {"UNIX addresses cut short", Header(0x21, 0x31, std::string(215, 'u')),
       ProxyParse::kInvalid, 0, ""},
      {"a length beyond the bound", Header(0x21, 0x11, kInetBody, 0xFFFF), ProxyParse::kInvalid,
       0, ""},
      {"just within the bound", Header(0x21, 0x11, kInetBody + std::string(1008 - 12, '\0')),
       ProxyParse::kComplete, 1024, "192.0.2.1:4711"},
      {"just beyond the bound", Header(0x21, 0x11, kInetBody + std::string(1009 - 12, '\0')),
       ProxyParse::kInvalid, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A copy of exactly the bytes, so that a read past them is caught by
    // the sanitizers.
    std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    ProxyHeader header;
    size_t needed = 0;
    ProxyParse result = ParseProxyHeader(bytes.data(), bytes.size(), &header, &needed);
    ASSERT_EQ(result, c.result);
    if (result == ProxyParse::kNeedMore) {
      EXPECT_EQ(needed, c.lengthOrNeeded);
    }
    if (result != ProxyParse::kComplete) continue;
    EXPECT_EQ(header.length, c.lengthOrNeeded);
    EXPECT_EQ(header.hasClient, *c.client != '\0');
    if (header.hasClient) {
      EXPECT_EQ(FormatPeerEndpoint(header.client), c.client);
    }
  }
}

}  // namespace
}  // namespace kavelo::service
