// kavelo-send as a user runs it: against a real listener, a fake service
// that refuses, nothing listening, and bad command lines.
#include <spawn.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/intake/intake_listener.h"
#include "service/queue/queue_thread.h"
#include "service/test/intake_fixture.h"

extern char** environ;

namespace kavelo::service {
namespace {

struct SendRun {
  int exitCode = -1;
  std::string output;  // standard output and error together
};

SendRun RunSend(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {std::string(KAVELO_BIN_DIR) + "/kavelo-send"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(&arg[0]);
  pointers.push_back(nullptr);
  int pipeFds[2];
  SendRun run;
  if (pipe(pipeFds) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t pid;
  int spawned = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, got);
  close(pipeFds[0]);
  if (spawned != 0) return run;
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class KaveloSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallServiceMessageTable();
    channel_.Register(kServiceEventSource);
    xml_ = work_.path() + "/report.xml";
    xsl_ = work_.path() + "/style.xsl";
    std::ofstream(xml_) << "<report/>";
    std::ofstream(xsl_) << "<xsl:stylesheet/>";
  }

  // Starts the real listener on a free loopback port, queueing into
  // *queue; returns the port.
  std::string StartListener(IntakeListener* listener, QueueThread* queue) {
    IntakeSettings settings;
    settings.port = 0;
    settings.bindAddress = "127.0.0.1";
    settings.printerApplication = "/opt/kavelo/PrintService/Ostrevo";
    settings.printerName = "lp0";
    settings.spoolerDirectory = spool_.path();
    listener->Initialize(&channel_, queue, settings);
    listener->Start();
    return std::to_string(listener->WaitListening(5000));
  }

  testsupport::EventLogCapture events_;
  testsupport::TempDir work_;
  testsupport::TempDir spool_;
  EventLogChannel channel_;
  QueueThread queue_{false};
  std::string xml_, xsl_;
};

TEST_F(KaveloSendTest, AQueuedJobIsToldStepByStepAndExitsZero) {
  IntakeListener listener;
  std::string port = StartListener(&listener, &queue_);
  SendRun run = RunSend({"--port", port, "--options", "printer='Office 2',copies=3", xml_, xsl_});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output,
            "Print options: printer='Office 2',copies=3,frompage=1,topage=1\n"
            "Connected to 127.0.0.1:" +
                port +
                ".\nThe service accepted the magic number.\n"
                "The service speaks protocol version 1.0.0 and accepted ours.\n"
                "The service accepted the print options.\n"
                "The service received both documents (26 bytes).\n"
                "The service queued the job.\n");
  listener.WaitConnectionsIdle(5000);
  listener.Stop();
  std::string job;
  ASSERT_TRUE(queue_.jobs().First(&job));
  EXPECT_NE(job.find(";fromPage=1;toPage=1;printerName=Office 2;copy=3;"), std::string::npos);
}

TEST_F(KaveloSendTest, AJobWithoutALastPageAsksForTheWholeReport) {
  // The print control refuses a job whose last page is 0, and takes the
  // range as the report's page count.
  struct Case {
    std::string options;  // "-": no --options at all
    std::string report;
    std::string range;  // in the queued job's command line
  } cases[] = {
      {"-", "<report>a<page/>b<soft_page/>c</report>", ";fromPage=1;toPage=3;"},
      {"copies=2", "<report/>", ";fromPage=1;toPage=1;"},
      {"frompage=2", "<report>a<page/>b</report>", ";fromPage=2;toPage=3;"},
      {"topage=5", "<report>a<page/>b</report>", ";fromPage=0;toPage=5;"},
  };
  for (const Case& c : cases) {
    QueueThread queue(false);
    IntakeListener listener;
    std::string port = StartListener(&listener, &queue);
    std::ofstream(xml_) << c.report;
    std::vector<std::string> args = {"--port", port, xml_, xsl_};
    if (c.options != "-") args.insert(args.begin(), {"--options", c.options});
    SendRun run = RunSend(args);
    EXPECT_EQ(run.exitCode, 0) << c.options << ": " << run.output;
    listener.WaitConnectionsIdle(5000);
    listener.Stop();
    std::string job;
    ASSERT_TRUE(queue.jobs().First(&job)) << c.options;
    EXPECT_NE(std::string::npos, job.find(c.range)) << c.options << ": " << job;
    // What was sent is said.
    EXPECT_EQ(0u, run.output.find("Print options: ")) << run.output;
  }
}

// A fake service that answers the magic number with the given bytes (then
// closes), for the refusal and protocol failure paths.
class FakeService {
 public:
  explicit FakeService(std::string answer) : answer_(std::move(answer)) {
    thread_ = std::thread([this] {
      int fd = accept(pair_.listener(), nullptr, nullptr);
      if (fd < 0) return;
      char magic[4];
      recv(fd, magic, sizeof magic, MSG_WAITALL);
      send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
      close(fd);
    });
  }
  ~FakeService() { thread_.join(); }
  int port() const { return pair_.port(); }

 private:
  testsupport::LoopbackPair pair_;
  std::string answer_;
  std::thread thread_;
};

TEST_F(KaveloSendTest, RefusalsFailuresAndUsageErrorsHaveTheirExitCodes) {
  {
    FakeService refusing(std::string("\xFF\xFF\x00\x01", 4));
    SendRun run = RunSend({"--port", std::to_string(refusing.port()), xml_, xsl_});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("The service refused the job: the service rejected the magic "
                              "number."),
              std::string::npos)
        << run.output;
  }
  {
    FakeService garbling(std::string("\x12\x34", 2));
    SendRun run = RunSend({"--port", std::to_string(garbling.port()), xml_, xsl_});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.output.find("unexpected answer 0x1234"), std::string::npos) << run.output;
  }
  int unusedPort;
  {
    testsupport::LoopbackPair closed;  // a port that is free again once this ends
    unusedPort = closed.port();
  }
  SendRun refused = RunSend({"--port", std::to_string(unusedPort), "--timeout", "2", xml_, xsl_});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_NE(refused.output.find("cannot connect to 127.0.0.1"), std::string::npos);

  struct Usage {
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  } usages[] = {
      {{}, 2, "give the report and its stylesheet"},
      {{"--port", "http", xml_, xsl_}, 2, "--port must be a number"},
      {{"--timeout"}, 2, "--timeout needs a value"},
      {{"--colour", xml_, xsl_}, 2, "unknown option --colour"},
      {{xml_, xsl_, xml_}, 2, "too many arguments"},
      {{xml_, work_.path() + "/missing.xsl"}, 2, "cannot read"},
      {{"--help"}, 0, "Exit status: 0 the job was queued"},
  };
  for (const Usage& usage : usages) {
    SendRun run = RunSend(usage.args);
    EXPECT_EQ(run.exitCode, usage.exitCode) << run.output;
    EXPECT_NE(run.output.find(usage.says), std::string::npos) << run.output;
  }
}

}  // namespace
}  // namespace kavelo::service
