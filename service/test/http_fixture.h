// Raw HTTP for the tests of the service's status side: a request sent as
// bytes, the answer read to its end.
#ifndef KAVELO_SERVICE_TEST_HTTP_FIXTURE_H_
#define KAVELO_SERVICE_TEST_HTTP_FIXTURE_H_

#include <string>

namespace kavelo::testsupport {

struct HttpReply {
  int status = 0;  // 0: no answer (refused, reset, time-out)
  std::string body;
};

// Sends the request bytes and reads the answer.
HttpReply HttpRaw(int port, const std::string& request);
// GET of the path (sent as given) with Connection: close.
HttpReply HttpGet(int port, const std::string& path);
// A connection that sends nothing (connected without waiting); its socket.
int OpenIdleConnection(int port);
// The value of one sample ("name{labels}") in a metrics text; -1 when absent.
double MetricValue(const std::string& metrics, const std::string& sample);
// promtool's verdict on a metrics text: "" when it passes, else its words.
std::string PromtoolProblems(const std::string& metrics);

}  // namespace kavelo::testsupport

#endif  // KAVELO_SERVICE_TEST_HTTP_FIXTURE_H_
