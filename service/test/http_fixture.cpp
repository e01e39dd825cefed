#include "service/test/http_fixture.h"

#include "service/test/intake_fixture.h"
#include "testsupport/child_process.h"

namespace kavelo::testsupport {

HttpReply HttpRaw(int port, const std::string& request) {
  HttpReply reply;
  RawClient client;
  if (!client.Connect(port, 5000) || !client.Send(request)) return reply;
  std::string answer = client.ReadToEnd();
  if (answer.compare(0, 9, "HTTP/1.1 ") != 0 || answer.size() < 12) return reply;
  reply.status = std::stoi(answer.substr(9, 3));
  size_t body = answer.find("\r\n\r\n");
  if (body != std::string::npos) reply.body = answer.substr(body + 4);
  return reply;
}

HttpReply HttpGet(int port, const std::string& path) {
  return HttpRaw(port, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
}

std::string PromtoolProblems(const std::string& metrics) {
  std::string out, err;
  int code = RunProgram({"promtool", "check", "metrics"}, metrics, &out, &err, 30000);
  return code == 0 ? "" : "promtool exit " + std::to_string(code) + ": " + out + err;
}

}  // namespace kavelo::testsupport
