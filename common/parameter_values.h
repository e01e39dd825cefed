// The ten service parameters as a plain record: what the service copies out
// of ServiceParameters after loading, and what the console's defaults give.
#ifndef KAVELO_COMMON_PARAMETER_VALUES_H_
#define KAVELO_COMMON_PARAMETER_VALUES_H_

#include <cstdint>
#include <string>

namespace kavelo {

struct ParameterValues {
  int32_t port = 4000;             // TCP port the service listens on
  int32_t maxConnections = 10;     // backlog of the listening socket
  int32_t keepAlive = 1;           // non-zero: keep-alive on each connection
  int32_t timeout = 300000;        // receive time-out of a connection, ms
  int32_t sendBuffer = 4096;       // send buffer size of a connection, bytes
  int32_t recvBuffer = 4096;       // receive buffer size of a connection, bytes
  std::string printerApplication;  // full path of the print control
  int32_t useDefaultPrinter = 1;   // non-zero: the account's default printer
  std::string printerName;         // printer used when useDefaultPrinter is 0
  std::string spoolerDirectory;    // where received XML and XSL files go
};

inline bool operator==(const ParameterValues& a, const ParameterValues& b) {
  return a.port == b.port && a.maxConnections == b.maxConnections && a.keepAlive == b.keepAlive &&
         a.timeout == b.timeout && a.sendBuffer == b.sendBuffer && a.recvBuffer == b.recvBuffer &&
         a.printerApplication == b.printerApplication &&
         a.useDefaultPrinter == b.useDefaultPrinter && a.printerName == b.printerName &&
         a.spoolerDirectory == b.spoolerDirectory;
}

}  // namespace kavelo

#endif  // KAVELO_COMMON_PARAMETER_VALUES_H_
