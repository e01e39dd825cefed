// The PROXY protocol header a proxy sends in front of a job: parsed, and
// what it gives checked against the bytes it came from.
#include <cstdint>
#include <vector>

#include "service/intake/proxy_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the input's bytes, so that a read past them is caught.
  std::vector<uint8_t> bytes(data, data + size);
  kavelo::service::ProxyHeader header;
  size_t needed = 0;
  switch (kavelo::service::ParseProxyHeader(bytes.data(), bytes.size(), &header, &needed)) {
    case kavelo::service::ProxyParse::kComplete:
      if (header.length < kavelo::service::kProxyHeaderFixed || header.length > size ||
          header.length > kavelo::service::kProxyHeaderMax) {
        __builtin_trap();
      }
      if (header.hasClient) (void)kavelo::service::FormatPeerEndpoint(header.client);
      break;
    case kavelo::service::ProxyParse::kNeedMore:
      if (needed <= size || needed > kavelo::service::kProxyHeaderMax) __builtin_trap();
      break;
    case kavelo::service::ProxyParse::kInvalid:
      break;
  }
  return 0;
}
