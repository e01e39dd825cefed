#include "service/test/http_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

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

int OpenIdleConnection(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return fd;
}

double MetricValue(const std::string& metrics, const std::string& sample) {
  size_t at = metrics.find("\n" + sample + " ");
  if (at == std::string::npos) return -1;
  return std::strtod(metrics.c_str() + at + sample.size() + 2, nullptr);
}

std::string PromtoolProblems(const std::string& metrics) {
  std::string out, err;
  int code = RunProgram({"promtool", "check", "metrics"}, metrics, &out, &err, 30000);
  return code == 0 ? "" : "promtool exit " + std::to_string(code) + ": " + out + err;
}

}  // namespace kavelo::testsupport
