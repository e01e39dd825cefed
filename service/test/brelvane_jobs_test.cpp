// The real Brelvane service and kavelo-jobs: job numbers, the history, the
// listing and the operators' actions over the control socket.  The service
// runs as "nobody" (started by root) with a fake print control that prints
// by the report's text: "wait-X" waits for the file go-wait-X, "failonce"
// fails its first run (exit status 3), anything else prints at once.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "service/test/brelvane_harness.h"
#include "tools/job_client.h"

namespace kavelo::testsupport {
namespace {

using nlohmann::json;

constexpr const char* kAccount = "nobody";

// A world whose print control prints by the report's text and removes the
// job's files as the real one does; its log has "start NUMBER TEXT" and
// "end NUMBER" lines.
class JobsWorld {
 public:
  explicit JobsWorld(uint32_t printThreads = 1) {
    port_ = FreePort();
    world_.InstallConfigured(port_, kAccount);
    SetPrintLimit("PrintThreads", printThreads);
    const std::string root = world_.root();
    WriteFile(world_.printControl(),
              "#!/bin/sh\n"
              "job=${2%%;*}; xml=${job#xml=}\n"
              "rest=${2#*;}; xsl=${rest%%;*}; xsl=${xsl#xsl=}\n"
              "text=$(cat \"$xml\")\n"
              "echo \"start $KAVELO_JOB_NUMBER $text\" >> '" + world_.printLog() + "'\n"
              "case \"$text\" in\n"
              "  wait-*) while [ ! -e '" + root + "/go-'\"$text\" ] && [ -d '" + root +
                  "' ]; do sleep 0.05; done;;\n"
              "  failonce) if [ ! -e '" + root + "/failed-once' ]; then\n"
              "      : > '" + root + "/failed-once'; exit 3; fi;;\n"
              "esac\n"
              "rm -f \"$xml\" \"$xsl\"\n"
              "echo \"end $KAVELO_JOB_NUMBER\" >> '" + world_.printLog() + "'\n");
    chmod(world_.printControl().c_str(), 0755);
  }

  BrelvaneWorld& world() { return world_; }

  void Start() {
    service_ = std::make_unique<Child>();
    ASSERT_TRUE(service_->Start(BinPath("Brelvane"), {"Brelvane"}, world_.Environment(false)));
    // Each start reports message 1 once more.
    ASSERT_TRUE(WaitUntil(30000, [&] {
      std::vector<int> ids = world_.EventIds();
      return static_cast<size_t>(std::count(ids.begin(), ids.end(), 1)) > starts_;
    }));
    ++starts_;
    ASSERT_TRUE(WaitUntil(30000, [&] { return access(SocketPath().c_str(), F_OK) == 0; }));
  }
  void Stop(int signal) {
    service_->Signal(signal);
    int exitCode = -1;
    ASSERT_TRUE(service_->Wait(30000, &exitCode));
  }

  std::string SocketPath() const { return world_.registryDir() + "/jobs.sock"; }

  // Sends a job whose report is text; returns its number, read from the
  // history (the newest job), or 0 when not asked to.
  int64_t Send(const std::string& text, bool readNumber = true,
               const std::string& options = "topage=1") {
    JobResult result;
    // The listener may not listen yet right after the start.
    WaitUntil(10000, [&] {
      JobClient client("127.0.0.1", port_, 10000);
      result = client.Send(options, JobDocument{"", text}, JobDocument{"", "<s/>"});
      return result.outcome == JobOutcome::kQueued ||
             result.detail.find("cannot connect") == std::string::npos;
    });
    EXPECT_EQ(result.outcome, JobOutcome::kQueued) << result.detail;
    if (!readNumber) return 0;
    int64_t newest = 0;
    for (const json& job : List(true)) newest = std::max<int64_t>(newest, job.at("number"));
    return newest;
  }

  // Sends a job that prints until Go(text) and waits for its start.
  int64_t SendPrinting(const std::string& text, const std::string& options = "topage=1") {
    int64_t number = Send(text, true, options);
    EXPECT_TRUE(WaitLogged("start " + std::to_string(number) + " " + text));
    return number;
  }

  // kavelo-jobs with args (as user when given), its output and error text.
  struct Run {
    int exitCode = -1;
    std::string output;
  };
  Run Jobs(std::vector<std::string> args, const std::string& user = "") {
    std::vector<std::string> argv = {"sh", "-c", "exec \"$@\" 2>&1", "sh"};
    if (!user.empty()) {
      argv.insert(argv.end(), {"setpriv", "--reuid=" + user, "--regid=" + user, "--clear-groups"});
    }
    argv.push_back(BinPath("kavelo-jobs"));
    argv.insert(argv.end(), args.begin(), args.end());
    Child child;
    Run run;
    EXPECT_TRUE(child.Start("/bin/sh", argv, world_.Environment(false)));
    EXPECT_TRUE(child.Wait(30000, &run.exitCode));
    run.output = child.output();
    return run;
  }
  json List(bool all) {
    Run run = Jobs(all ? std::vector<std::string>{"--all", "--json"}
                       : std::vector<std::string>{"--json"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return run.exitCode == 0 ? json::parse(run.output).at("jobs") : json::array();
  }
  json Show(int64_t number) {
    Run run = Jobs({"show", std::to_string(number), "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return run.exitCode == 0 ? json::parse(run.output).at("job") : json::object();
  }
  bool WaitState(int64_t number, const std::string& state) {
    return WaitUntil(20000, [&] { return Show(number).value("state", "") == state; });
  }
  bool Logged(const std::string& line) {
    return ReadFile(world_.printLog()).find(line + "\n") != std::string::npos;
  }
  bool WaitLogged(const std::string& line) {
    return WaitUntil(20000, [&] { return Logged(line); });
  }
  // The numbers of the jobs the print control started, in order.
  std::vector<int64_t> Started() {
    std::vector<int64_t> numbers;
    for (const std::string& line : ReadLines(world_.printLog())) {
      if (line.rfind("start ", 0) == 0) numbers.push_back(std::stoll(line.substr(6)));
    }
    return numbers;
  }
  void Go(const std::string& text) { WriteFile(world_.root() + "/go-" + text, ""); }

 private:
  BrelvaneWorld world_;
  int port_ = 0;
  size_t starts_ = 0;
  std::unique_ptr<Child> service_;
};

std::vector<std::pair<int64_t, std::string>> NumbersAndStates(const json& jobs) {
  std::vector<std::pair<int64_t, std::string>> list;
  for (const json& job : jobs) list.emplace_back(job.at("number"), job.at("state"));
  return list;
}

// With PrintThreads 2 the jobs of two printers print at once: both are
// listed as printing, a cancel ends only its own print control, and the
// job waiting for the same printer prints next.
TEST(BrelvaneJobsTest, TwoPrintersPrintAtOnceAndACancelEndsOnlyItsOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "the service runs as its account only when root starts it";
  JobsWorld w(2);
  w.Start();
  int64_t first = w.SendPrinting("wait-a");  // the service's printer
  int64_t other = w.SendPrinting("wait-b", "topage=1,printer=P2");
  int64_t behind = w.Send("behind");  // the service's printer again
  std::vector<std::pair<int64_t, std::string>> listed = NumbersAndStates(w.List(false));
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::pair<int64_t, std::string>>{
                        {first, "printing"}, {other, "printing"}, {behind, "queued"}}));
  JobsWorld::Run cancel = w.Jobs({"cancel", std::to_string(first)});
  EXPECT_EQ(cancel.exitCode, 0) << cancel.output;
  ASSERT_TRUE(w.WaitState(behind, "printed"));
  EXPECT_EQ(w.Show(first).at("state"), "cancelled");
  EXPECT_EQ(w.Show(other).at("state"), "printing");
  w.Go("wait-b");
  ASSERT_TRUE(w.WaitState(other, "printed"));
  EXPECT_EQ(w.Started(), (std::vector<int64_t>{first, other, behind}));
}

TEST(BrelvaneJobsTest, ListsPrintingAndWaitingJobsAndCancelsEither) {
  if (geteuid() != 0) GTEST_SKIP() << "the service runs as its account only when root starts it";
  JobsWorld w;
  w.Start();
  int64_t printing = w.SendPrinting("wait-a");
  int64_t second = w.Send("second");
  int64_t third = w.Send("third");
  EXPECT_EQ(NumbersAndStates(w.List(false)),
            (std::vector<std::pair<int64_t, std::string>>{
                {printing, "printing"}, {second, "queued"}, {third, "queued"}}));
  json job = w.Show(second);
  EXPECT_EQ(job.at("client_address"), "127.0.0.1");
  EXPECT_GT(job.at("client_port").get<int>(), 0);
  EXPECT_EQ(job.at("xml_bytes"), 6);

  // A queued job: never printed, its files gone.
  EXPECT_EQ(ListFolder(w.world().spoolDir()).size(), 6u);
  JobsWorld::Run cancel = w.Jobs({"cancel", std::to_string(third)});
  EXPECT_EQ(cancel.exitCode, 0) << cancel.output;
  EXPECT_EQ(w.Show(third).at("state"), "cancelled");
  EXPECT_EQ(ListFolder(w.world().spoolDir()).size(), 4u);
  // The printing one: ended, and the next job prints.
  cancel = w.Jobs({"cancel", std::to_string(printing)});
  EXPECT_EQ(cancel.exitCode, 0) << cancel.output;
  EXPECT_EQ(w.Show(printing).at("state"), "cancelled");
  ASSERT_TRUE(w.WaitState(second, "printed"));
  EXPECT_EQ(w.Started(), (std::vector<int64_t>{printing, second}));
  EXPECT_TRUE(ListFolder(w.world().spoolDir()).empty());
  std::vector<std::string> cancelEvents;
  for (const LoggedEvent& event : w.world().Events()) {
    if (event.id == 38) cancelEvents.push_back(event.strings.at(0) + " " + event.strings.at(1));
  }
  EXPECT_EQ(cancelEvents,
            (std::vector<std::string>{std::to_string(third) + " cancelled by root",
                                      std::to_string(printing) + " cancelled while printing by root (held spooler jobs cancelled: 0)"}));

  // Exit statuses, with the service running and stopped.
  struct Row {
    std::vector<std::string> args;
    bool running;
    int exitCode;
  };
  const Row rows[] = {
      {{"cancel", "999"}, true, 1},   {{"retry", std::to_string(second)}, true, 1},
      {{"show", "999"}, true, 1},     {{"frobnicate", "1"}, true, 2},
      {{"cancel"}, true, 2},          {{"--since", "2h"}, true, 2},
      {{"--all", "--since", "2x"}, true, 2},
      {{"--all", "--failed"}, false, 0}, {{"show", std::to_string(second)}, false, 0},
      {{"hold", std::to_string(second)}, false, 3},
  };
  bool running = true;
  for (const Row& row : rows) {
    if (running && !row.running) {
      w.Stop(SIGTERM);
      running = false;
    }
    JobsWorld::Run run = w.Jobs(row.args);
    EXPECT_EQ(run.exitCode, row.exitCode) << ::testing::PrintToString(row.args) << run.output;
  }
}

// A hold survives a kill -9 and the restart; the release prints the job in
// its place.  No acknowledged job is missing from the history after the
// crash.
TEST(BrelvaneJobsTest, AHoldSurvivesACrashAndAReleasePrintsTheJobInItsPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "the service runs as its account only when root starts it";
  JobsWorld w;
  w.Start();
  int64_t a = w.SendPrinting("wait-a");
  int64_t b = w.Send("b");
  int64_t c = w.Send("wait-c");
  JobsWorld::Run hold = w.Jobs({"hold", std::to_string(b)});
  ASSERT_EQ(hold.exitCode, 0) << hold.output;
  w.Stop(SIGKILL);
  w.Go("wait-a");  // the orphaned print control ends
  ASSERT_TRUE(w.WaitLogged("end " + std::to_string(a)));

  w.Start();
  ASSERT_TRUE(w.WaitLogged("start " + std::to_string(c) + " wait-c"));  // put back at the start
  int64_t d = w.Send("d");
  EXPECT_GT(d, c) << "numbers are never given again after a crash";
  EXPECT_EQ(NumbersAndStates(w.List(false)),
            (std::vector<std::pair<int64_t, std::string>>{
                {c, "printing"}, {b, "held"}, {d, "queued"}}));
  // The job that printed when the service died has ended, with why.
  json ended = w.Show(a);
  EXPECT_EQ(ended.at("state"), "failed");
  EXPECT_NE(ended.at("failure").get<std::string>().find("service ended"), std::string::npos);
  JobsWorld::Run release = w.Jobs({"release", std::to_string(b)});
  ASSERT_EQ(release.exitCode, 0) << release.output;
  w.Go("wait-c");
  ASSERT_TRUE(w.WaitState(d, "printed"));
  EXPECT_EQ(w.Started(), (std::vector<int64_t>{a, c, b, d}));
  std::vector<int64_t> all;
  for (const json& job : w.List(true)) all.push_back(job.at("number"));
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<int64_t>{a, b, c, d}));
}

// A failed job keeps its spooled files for a retry, which prints it under a
// new number that names the old one; the failure is in its history.
TEST(BrelvaneJobsTest, ARetryPrintsAFailedJobUnderANewNumber) {
  if (geteuid() != 0) GTEST_SKIP() << "the service runs as its account only when root starts it";
  JobsWorld w;
  w.Start();
  int64_t failed = w.Send("failonce");
  ASSERT_TRUE(w.WaitState(failed, "failed"));
  json job = w.Show(failed);
  EXPECT_EQ(job.at("exit_status"), 3);
  EXPECT_EQ(job.at("files_kept"), true);
  EXPECT_EQ(job.at("failure"), "The print control ended abnormally (exit status 3)");
  EXPECT_EQ(ListFolder(w.world().spoolDir()).size(), 2u);

  JobsWorld::Run retry = w.Jobs({"retry", std::to_string(failed)});
  ASSERT_EQ(retry.exitCode, 0) << retry.output;
  int64_t again = w.Show(failed).value("retried_as", int64_t{0});
  ASSERT_GT(again, failed);
  EXPECT_NE(retry.output.find("retried as job " + std::to_string(again)), std::string::npos);
  ASSERT_TRUE(w.WaitState(again, "printed"));
  EXPECT_EQ(w.Show(again).at("retry_of"), failed);
  EXPECT_TRUE(ListFolder(w.world().spoolDir()).empty());
  // Its files went with the retry: no second one.
  EXPECT_EQ(w.Jobs({"retry", std::to_string(failed)}).exitCode, 1);
}

// Only root, the service's account and its group may act: the socket's mode
// keeps others out, and the service refuses them when the mode does not.
TEST(BrelvaneJobsTest, AUserOutsideTheServicesGroupIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  JobsWorld w;
  w.Start();
  int64_t waiting = w.SendPrinting("wait-a");
  struct Row {
    const char* what;
    mode_t socketMode;
    int exitCode;
    const char* says;
  };
  const Row rows[] = {
      {"the socket's mode", 0770, 3, "Permission denied"},
      {"the service's check", 0777, 1, "refused: the user daemon is neither root"},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(chmod(w.SocketPath().c_str(), row.socketMode), 0);
    // The folders on the way let everyone pass when the socket does.
    for (const std::string& folder : {w.world().root(), w.world().registryDir()}) {
      struct stat info;
      ASSERT_EQ(stat(folder.c_str(), &info), 0);
      chmod(folder.c_str(), (info.st_mode & 07777) | ((row.socketMode & 07) != 0 ? 0011 : 0));
    }
    JobsWorld::Run run = w.Jobs({"cancel", std::to_string(waiting)}, "daemon");
    EXPECT_EQ(run.exitCode, row.exitCode) << row.what << run.output;
    EXPECT_NE(run.output.find(row.says), std::string::npos) << row.what << run.output;
  }
  EXPECT_EQ(w.Show(waiting).at("state"), "printing");
  EXPECT_EQ(w.Jobs({"cancel", std::to_string(waiting)}).exitCode, 0);
}

// A history that cannot be written costs no job: one event, and it prints.
TEST(BrelvaneJobsTest, AHistoryThatCannotBeWrittenLosesNoJob) {
  if (geteuid() != 0) GTEST_SKIP() << "the service runs as its account only when root starts it";
  JobsWorld w;
  ASSERT_EQ(mkdir((w.world().registryDir() + "/jobs.db").c_str(), 0700), 0);
  w.Start();
  JobsWorld::Run list = w.Jobs({});
  EXPECT_EQ(list.exitCode, 3) << list.output;
  w.Send("plain", false);
  ASSERT_TRUE(WaitUntil(20000, [&] { return w.Logged("start 1 plain"); }))
      << ReadFile(w.world().printLog());
  ASSERT_TRUE(w.WaitLogged("end 1"));
  std::vector<int> ids = w.world().EventIds();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 39), 1) << ::testing::PrintToString(ids);
}

}  // namespace
}  // namespace kavelo::testsupport
