// The print thread with a real registry, a real event-log file and a fake
// print control: a script written by the test that logs its start and end.
#include "service/queue/print_thread.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "common/exceptions.h"
#include "common/service_parameters.h"
#include "jobs/job_history.h"
#include "jobs/job_settings.h"
#include "platform/print_limits.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "protocol/held_jobs_file.h"
#include "protocol/job_command_line.h"
#include "service/host/service_messages.h"
#include "service/test/intake_fixture.h"
#include "testsupport/temp_registry.h"
#include "testsupport/wait.h"

namespace kavelo::service {
namespace {

using testsupport::ReadLines;
using testsupport::SetPrintLimit;

bool WaitForLines(const std::string& path, size_t count, int timeoutMs = 20000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (ReadLines(path).size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::vector<std::string> PersistedJobs() {
  ServiceParameters parameters;
  parameters.Bind("Brelvane", platform::Hive::kLocalMachine);
  std::vector<std::string> names, texts;
  parameters.ListPersistedJobs(&names, &texts);
  return texts;
}

// Creates the release file when it goes out of scope, so that a failed
// assertion never leaves a print thread waiting for a held job forever.
class Release {
 public:
  explicit Release(std::string path) : path_(std::move(path)) {}
  ~Release() { std::ofstream(path_).close(); }

 private:
  std::string path_;
};

class PrintThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallServiceMessageTable();
    log_ = work_.path() + "/log";
    release_ = work_.path() + "/release";
    control_ = work_.path() + "/Ostrevo";
    // The fake print control logs "start"/"end" with its job's XML path; a
    // job whose XML path holds "hold" waits for the release file.
    WriteControl("${2%%;*}", "", "*kill*) kill -9 $$;;");
  }
  // A fake print control that logs "start JOB" and "end JOB" (job: a shell
  // expression of the job's key-value argument $2, stamp what follows
  // JOB).  Jobs named "hold" wait for the release file, "hang" jobs never
  // end; others: a further shell case.
  void WriteControl(const std::string& job, const std::string& stamp, const std::string& others) {
    std::ofstream script(control_);
    script << "#!/bin/sh\n"
           << "job=" << job << "\n"
           << "echo \"start $job" << stamp << "\" >> " << log_ << "\n"
           << "case \"$job\" in *hold*) while [ ! -e " << release_
           << " ]; do sleep 0.01; done;; *hang*) while :; do sleep 0.05; done;; " << others
           << " esac\n"
           << "echo \"end $job" << stamp << "\" >> " << log_ << "\n";
    script.close();
    chmod(control_.c_str(), 0755);
  }
  bool Add(PrintThread& thread, const std::string& name, const std::string& app = "") {
    std::string xml = "/spool/" + name + ".xml";
    return thread.AddJob((app.empty() ? control_ : app).c_str(), xml.c_str(), "/spool/s.xsl", "lp0",
                         0, 1, 0, 0);
  }

  testsupport::TempRegistry registry_;
  testsupport::TempDir work_;
  testsupport::EventLogCapture events_;
  std::string log_, release_, control_;
};

// The files of a job as the print control leaves them when it is ended
// half-way: the spooled XML and XSL, the print-style copy, a chunk report
// and the work folder with an HTML file.  Returns the job command line.
std::string WriteJobFiles(const std::string& dir, const std::string& name,
                          const std::string& control, std::vector<std::string>* files) {
  *files = {dir + "/" + name + ".xml", dir + "/" + name + ".xsl", dir + "/" + name + "st.xsl",
            dir + "/" + name + "0.xml", dir + "/" + name + ".xml.work"};
  for (size_t i = 0; i < 4; ++i) std::ofstream((*files)[i]) << "x";
  mkdir(files->back().c_str(), 0700);
  std::ofstream(files->back() + "/120000.html") << "<html/>";
  return protocol::FormatJobCommandLine(control, (*files)[0], (*files)[1], "lp0", 0, 1, 1, 1);
}

// With the private CUPS scheduler: two held jobs on its stopped queue
// kavelo-held, named in the held-jobs file of the work folder, as a print
// control ended half-way through a split report leaves them.  Their ids
// go to *ids; returns how many (none without the scheduler).
int LeaveHeldJobs(const std::string& workFolder, std::vector<int32_t>* ids) {
  ids->clear();
  if (getenv("KAVELO_TEST_CUPS") == nullptr) return 0;
  std::unique_ptr<platform::Spooler> spooler = platform::MakeCupsSpooler();
  std::ofstream record(workFolder + "/" + protocol::kHeldJobsFileName);
  for (const char* chunk : {"/1200000.html", "/1200001.html"}) {
    platform::SubmitOptions options;
    options.documentName = workFolder + chunk;
    options.hold = true;
    int32_t id = 0;
    EXPECT_EQ(platform::kSpoolerOk,
              spooler->SubmitDocument("kavelo-held", "/etc/hostname", options, &id));
    record << protocol::FormatHeldJobLine("kavelo-held", id);
    ids->push_back(id);
  }
  return static_cast<int>(ids->size());
}

// How many of the jobs are still active.
int StillActive(const std::vector<int32_t>& ids) {
  if (ids.empty()) return 0;
  std::unique_ptr<platform::Spooler> spooler = platform::MakeCupsSpooler();
  int active = 0;
  for (int32_t id : ids) {
    platform::SpoolerJob job;
    active += spooler->GetJob("kavelo-held", id, &job) == platform::kSpoolerOk;
  }
  return active;
}

// A print control that does not end by itself is ended at the
// PrintControlTimeout, one killed by a signal is seen as such; either way
// one event that counts the held spooler jobs it left (cancelled), the
// files of its job removed (its spooled ones kept for a retry by hand while
// KeepFailedHours is not 0), no retry by itself, and the next job starts.
TEST_F(PrintThreadTest, APrintControlThatDoesNotEndNormallyIsReportedAndItsFilesRemoved) {
  struct Case {
    const char* name;
    int keepFailedHours;
    int event;
    const char* how;
    bool spoolFilesKept;  // for a retry
  };
  const Case cases[] = {{"hang", 24, 31, "300", false},
                        {"kill", 0, 32, "signal 9 (Killed)", false},
                        {"kill", 24, 40, "signal 9 (Killed)", true}};
  SetPrintLimit("PrintControlTimeout", 300);
  for (const Case& c : cases) {
    SetPrintLimit("KeepFailedHours", c.keepFailedHours);
    std::remove(log_.c_str());
    std::remove(events_.path().c_str());
    PrintThread thread;
    thread.BindLog("Brelvane");
    thread.StartPrinting();
    std::vector<std::string> files;
    std::string job = WriteJobFiles(work_.path(), c.name, control_, &files);
    std::vector<int32_t> held;
    std::string count = std::to_string(LeaveHeldJobs(files.back(), &held));
    ASSERT_TRUE(thread.Enqueue(job.c_str()));
    ASSERT_TRUE(Add(thread, "next"));
    ASSERT_TRUE(WaitForLines(log_, 3)) << c.name;
    thread.Stop();
    EXPECT_EQ(ReadLines(log_)[1], "start xml=/spool/next.xml") << c.name;
    std::vector<testsupport::LoggedEvent> events = events_.Events();
    ASSERT_EQ(events.size(), 1u) << c.name;
    EXPECT_EQ(events[0].id, c.event) << c.name;
    EXPECT_EQ(events[0].strings, (std::vector<std::string>{c.how, job, count})) << c.name;
    EXPECT_EQ(StillActive(held), 0) << c.name;
    for (size_t i = 0; i < files.size(); ++i) {
      // The spooled XML and XSL (the first two) may stay; what the print
      // control made goes.
      EXPECT_EQ(access(files[i].c_str(), F_OK) == 0, c.spoolFilesKept && i < 2) << files[i];
    }
    EXPECT_TRUE(PersistedJobs().empty()) << c.name;
  }
}

// A job that was printing when the service ended (a crash, a kill): at the
// next start its row ends as failed.  When its print control ended too (its
// work folder is left unlocked), the held spooler jobs it left are
// cancelled and its files removed, the spooled ones kept for a retry while
// KeepFailedHours is not 0; while a print control still holds the folder,
// all is left to it.
TEST_F(PrintThreadTest, AJobLeftPrintingByACrashIsEndedAndWhatItsEndedControlLeftGoes) {
  struct Case {
    const char* name;
    bool controlRuns;
    int keepFailedHours;
    bool heldCancelled, spoolFilesKept, derivedFilesKept;
  };
  const Case cases[] = {{"control ended", false, 0, true, false, false},
                        {"control ended, files kept", false, 24, true, true, false},
                        {"control runs", true, 0, false, true, true}};
  int64_t number = 900;
  for (const Case& c : cases) {
    SetPrintLimit("KeepFailedHours", c.keepFailedHours);
    std::vector<std::string> files;
    // Names of their own: a case's kept files must not be another's.
    std::string job = WriteJobFiles(work_.path(), "crash" + std::to_string(number), control_, &files);
    std::vector<int32_t> held;
    std::string count = std::to_string(LeaveHeldJobs(files.back(), &held));
    int running = open(files.back().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(running, 0);
    if (c.controlRuns) {
      ASSERT_EQ(flock(running, LOCK_SH), 0);
    }
    {
      jobs::JobHistory history;
      ASSERT_TRUE(history.Open(jobs::DefaultHistoryPath(), jobs::JobHistory::Mode::kReadWrite));
      jobs::JobRecord row;
      row.number = ++number;
      row.state = jobs::JobState::kPrinting;
      row.commandLine = job;
      ASSERT_TRUE(history.Add(row));
    }
    PrintThread thread;
    thread.BindLog("Brelvane");
    thread.StartPrinting();
    thread.Stop();
    close(running);
    jobs::JobRecord row;
    ASSERT_TRUE(thread.desk().history().Find(number, &row)) << c.name;
    EXPECT_EQ(row.state, jobs::JobState::kFailed) << c.name;
    EXPECT_EQ(row.failure, c.controlRuns ? "The service ended while the job was printing"
                                         : "The service ended while the job was printing and "
                                           "its print control ended too (held spooler jobs "
                                           "cancelled: " + count + ")")
        << c.name;
    EXPECT_EQ(row.filesKept, c.keepFailedHours != 0) << c.name;
    EXPECT_EQ(StillActive(held), c.heldCancelled ? 0 : static_cast<int>(held.size())) << c.name;
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(access(files[i].c_str(), F_OK) == 0, i < 2 ? c.spoolFilesKept : c.derivedFilesKept)
          << c.name << ": " << files[i];
    }
    if (!c.heldCancelled && !held.empty()) {
      std::unique_ptr<platform::Spooler> spooler = platform::MakeCupsSpooler();
      for (int32_t id : held) spooler->ControlJob("kavelo-held", id, platform::JobCommand::kCancel);
    }
    std::filesystem::remove_all(files.back());
    for (const std::string& file : files) std::remove(file.c_str());
  }
}

// The pids of this process's children that run `program /standby`.
std::vector<int> StandbyChildren(const std::string& program) {
  std::vector<int> pids;
  const std::string wanted = program + '\0' + "/standby" + '\0';
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat, cmdline;
    std::getline(std::ifstream(entry.path() / "stat"), stat);
    std::getline(std::ifstream(entry.path() / "cmdline"), cmdline, '\x01');
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string state;
    int parent = 0;
    fields >> state >> parent;
    if (parent == getpid() && state != "Z" && cmdline == wanted) pids.push_back(std::stoi(name));
  }
  return pids;
}

// The print control installed beside the service waits in standby for the
// next job while one prints, and runs that job, under the job's number,
// when it is handed over; a stop lets the waiting one go.
TEST_F(PrintThreadTest, TheNextJobsPrintControlWaitsInStandby) {
  const std::string ostrevo = std::string(KAVELO_BIN_DIR) + "/Ostrevo";
  PrintThread thread;
  thread.BindLog("Brelvane");
  thread.StartPrinting();
  auto ended = [&](size_t count) {
    return testsupport::WaitUntil(20000, [&] {
      std::vector<jobs::JobRecord> rows;
      return thread.desk().history().ListHistory(jobs::HistoryFilter(), &rows) &&
             rows.size() == count;
    });
  };
  // Jobs whose report is missing: each print control records its failure.
  ASSERT_TRUE(Add(thread, "first", ostrevo));
  ASSERT_TRUE(ended(1));
  std::vector<int> waiting;
  ASSERT_TRUE(testsupport::WaitUntil(5000, [&] {
    return (waiting = StandbyChildren(ostrevo)).size() == 1;
  }));
  // Stopped, the waiting print control holds the next job up: the job is
  // its.  (Were it let go instead, it would be killed after a second, and
  // the job would print without it.)
  ASSERT_EQ(kill(waiting[0], SIGSTOP), 0);
  ASSERT_TRUE(Add(thread, "second", ostrevo));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  std::vector<jobs::JobRecord> rows;
  ASSERT_TRUE(thread.desk().history().ListHistory(jobs::HistoryFilter(), &rows));
  EXPECT_EQ(rows.size(), 1u);
  // It runs on (its command line stays), and the next one waits beside it.
  const std::vector<int> both = StandbyChildren(ostrevo);
  EXPECT_EQ(both.size(), 2u);
  EXPECT_EQ(std::count(both.begin(), both.end(), waiting[0]), 1);
  ASSERT_EQ(kill(waiting[0], SIGCONT), 0);
  ASSERT_TRUE(ended(2));
  // The next one waits already; the stop lets it go.
  ASSERT_TRUE(testsupport::WaitUntil(5000, [&] {
    const std::vector<int> left = StandbyChildren(ostrevo);
    return left.size() == 1 && left[0] != waiting[0];
  }));
  thread.Stop();
  EXPECT_TRUE(StandbyChildren(ostrevo).empty());
  ASSERT_TRUE(thread.desk().history().ListHistory(jobs::HistoryFilter(), &rows));
  for (const jobs::JobRecord& row : rows) {
    EXPECT_EQ(row.state, jobs::JobState::kFailed) << row.number;
    EXPECT_NE(row.failure.find("Error:CreateFile(read)"), std::string::npos) << row.failure;
  }
}

// A stop lets a running print control go on for its grace only, then ends
// it: the files it made go, the job keeps its spooled files and goes back
// into the persisted queue behind the jobs that waited.
TEST_F(PrintThreadTest, AStopEndsARunningPrintControlAfterItsGraceAndKeepsItsJob) {
  PrintThread thread;
  thread.set_stop_grace_ms(200);
  thread.BindLog("Brelvane");
  thread.StartPrinting();
  std::vector<std::string> files;
  std::string job = WriteJobFiles(work_.path(), "hang", control_, &files);
  std::vector<int32_t> held;
  std::string count = std::to_string(LeaveHeldJobs(files.back(), &held));
  ASSERT_TRUE(thread.Enqueue(job.c_str()));
  ASSERT_TRUE(Add(thread, "behind"));
  ASSERT_TRUE(WaitForLines(log_, 1));
  auto start = std::chrono::steady_clock::now();
  thread.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_EQ(events_.Ids(), std::vector<int>{34});
  // Nothing of the ended run stays held: the job queued again prints once.
  EXPECT_EQ(events_.Events()[0].strings, (std::vector<std::string>{job, count}));
  EXPECT_EQ(StillActive(held), 0);
  for (size_t i = 0; i < files.size(); ++i) {
    // The spooled XML and XSL come first; the rest was made by the print control.
    EXPECT_EQ(access(files[i].c_str(), F_OK) == 0, i < 2) << files[i];
  }
  ASSERT_EQ(PersistedJobs(), (std::vector<std::string>{PersistedJobs()[0], job}));
  EXPECT_NE(PersistedJobs()[0].find("behind"), std::string::npos);
}

TEST_F(PrintThreadTest, JobsAddedWhileOneRunsStartInOrderOneAfterTheOther) {
  PrintThread thread;
  Release release(release_);  // however the test ends, the held job ends
  thread.BindLog("Brelvane");
  thread.StartPrinting();
  ASSERT_TRUE(Add(thread, "hold"));
  ASSERT_TRUE(WaitForLines(log_, 1));
  for (const char* name : {"one", "two", "three"}) ASSERT_TRUE(Add(thread, name));
  // The running job leaves the persisted queue right after its start; the
  // three waiting ones are persisted, in order.
  std::vector<std::string> persisted = PersistedJobs();
  for (int i = 0; i < 2000 && persisted.size() > 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    persisted = PersistedJobs();
  }
  ASSERT_EQ(persisted.size(), 3u);
  EXPECT_NE(persisted[0].find("xml=/spool/one.xml;"), std::string::npos);
  EXPECT_NE(persisted[2].find("xml=/spool/three.xml;"), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ReadLines(log_).size(), 1u);  // nothing else starts meanwhile

  std::ofstream(release_).close();
  ASSERT_TRUE(WaitForLines(log_, 8));
  EXPECT_EQ(ReadLines(log_),
            (std::vector<std::string>{"start xml=/spool/hold.xml", "end xml=/spool/hold.xml",
                                      "start xml=/spool/one.xml", "end xml=/spool/one.xml",
                                      "start xml=/spool/two.xml", "end xml=/spool/two.xml",
                                      "start xml=/spool/three.xml", "end xml=/spool/three.xml"}));
  thread.Stop();
  EXPECT_TRUE(PersistedJobs().empty());
  EXPECT_TRUE(events_.Ids().empty());
}

TEST_F(PrintThreadTest, ARestartRequeuesTheJobsLeftAndPrintsBoth) {
  {
    PrintThread first;
    Release release(release_);
    first.BindLog("Brelvane");
    first.StartPrinting();
    ASSERT_TRUE(Add(first, "hold"));
    ASSERT_TRUE(WaitForLines(log_, 1));
    ASSERT_TRUE(Add(first, "left1"));
    ASSERT_TRUE(Add(first, "left2"));
    // Stop waits for the running print control; the two behind it stay.
    std::thread stopper([&first] { first.Stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ofstream(release_).close();
    stopper.join();
  }
  EXPECT_EQ(ReadLines(log_).size(), 2u);
  ASSERT_EQ(PersistedJobs().size(), 2u);
  EXPECT_TRUE(events_.Ids().empty());

  PrintThread second;
  second.BindLog("Brelvane");
  second.StartPrinting();
  ASSERT_TRUE(WaitForLines(log_, 6));
  second.Stop();
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 18);
  EXPECT_EQ(events[0].type, "information");
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"2"});
  std::vector<std::string> lines = ReadLines(log_);
  EXPECT_EQ(lines[2], "start xml=/spool/left1.xml");
  EXPECT_EQ(lines[4], "start xml=/spool/left2.xml");
  EXPECT_TRUE(PersistedJobs().empty());
}

TEST_F(PrintThreadTest, APrintControlThatCannotStartIsReportedAndDropped) {
  PrintThread thread;
  thread.BindLog("Brelvane");
  thread.StartPrinting();
  std::string missing = work_.path() + "/no such dir/Ostrevo";
  ASSERT_TRUE(Add(thread, "lost", missing));
  ASSERT_TRUE(Add(thread, "next"));
  ASSERT_TRUE(WaitForLines(log_, 2));
  thread.Stop();
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 6);
  EXPECT_EQ(events[0].strings,
            std::vector<std::string>{"\"" + missing + "\" \"" + missing +
                                     "\" xml=/spool/lost.xml;xsl=/spool/s.xsl;fromPage=0;"
                                     "toPage=0;printerName=lp0;copy=1;orien=0"});
  EXPECT_EQ(ReadLines(log_)[0], "start xml=/spool/next.xml");
  EXPECT_TRUE(PersistedJobs().empty());
  EXPECT_EQ(thread.jobs().size(), 0u);
}

// A print thread whose persisted queue fails on demand, and which records
// whether a job was already takeable when it was persisted.
class FaultyStoreThread : public PrintThread {
 public:
  long status = 0;
  bool removeFails = false;
  bool listedBeforePersisted = false;

 protected:
  long PersistJob(const std::string& job) override {
    if (jobs().size() > 0) listedBeforePersisted = true;
    return status != 0 ? status : PrintThread::PersistJob(job);
  }
  bool RemovePersistedJob(const std::string& job) override {
    return !removeFails && PrintThread::RemovePersistedJob(job);
  }
};

// A started job that cannot be removed from the persisted queue would print
// again at the next start: that is reported, and printing goes on.
TEST_F(PrintThreadTest, AJobLeftInThePersistedQueueIsReported) {
  FaultyStoreThread thread;
  thread.removeFails = true;
  thread.BindLog("Brelvane");
  thread.StartPrinting();
  ASSERT_TRUE(Add(thread, "a"));
  ASSERT_TRUE(WaitForLines(log_, 2));
  thread.Stop();
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 7);
  EXPECT_EQ(events[0].type, "error");
  EXPECT_EQ(events[0].strings, PersistedJobs());
}

TEST_F(PrintThreadTest, AJobIsPersistedBeforeItCanBeTakenAndNotQueuedWhenThatFails) {
  FaultyStoreThread thread;
  thread.BindLog("Brelvane");  // not started: jobs stay in the list
  EXPECT_TRUE(Add(thread, "a"));
  EXPECT_FALSE(thread.listedBeforePersisted);
  EXPECT_EQ(thread.jobs().size(), 1u);
  EXPECT_EQ(PersistedJobs().size(), 1u);

  thread.status = platform::kErrorCantWrite;
  EXPECT_FALSE(Add(thread, "b"));
  EXPECT_EQ(thread.jobs().size(), 1u);
  ASSERT_EQ(events_.Ids(), std::vector<int>{5});

  // Empty texts never reach the queue; AddJob raises them to its caller.
  EXPECT_FALSE(thread.Enqueue(""));
  EXPECT_THROW(thread.AddJob("", "x", "y", "z", 0, 1, 0, 0), IllegalArgumentException);
  EXPECT_THROW(thread.AddJob("a", nullptr, "y", "z", 0, 1, 0, 0), NullPointerException);
  EXPECT_EQ(events_.Events().back().strings, std::vector<std::string>{"Unknown"});
}

// The print queue's values, as the registry holds them (whatever their size).
std::vector<platform::RegValue> RawQueueValues() {
  platform::RegKey key;
  std::vector<platform::RegValue> values;
  if (platform::RegOpenKey(platform::Hive::kLocalMachine,
                           "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\PrintQueue",
                           platform::KEY_READ, &key) == platform::kErrorSuccess) {
    platform::RegQueryValues(key, &values);
  }
  return values;
}

// A value the listing cannot read would be neither printed nor removed: none
// is written, and one left by an older version is reported and removed at
// start while the listable job beside it prints.
TEST_F(PrintThreadTest, NoPersistedJobOutgrowsTheListing) {
  {
    PrintThread refusing;
    refusing.BindLog("Brelvane");  // not started
    std::string printer(8200, 'p');
    EXPECT_FALSE(refusing.AddJob(control_.c_str(), "/spool/big.xml", "/spool/s.xsl",
                                 printer.c_str(), 0, 1, 0, 0));
    EXPECT_EQ(refusing.jobs().size(), 0u);
    EXPECT_TRUE(RawQueueValues().empty());
  }
  std::string old = "\"" + control_ + "\" \"" + control_ + "\" xml=/spool/old.xml;printerName=" +
                    std::string(9000, 'p');
  {
    platform::RegKey key;
    platform::RegCreateKey(platform::Hive::kLocalMachine,
                           "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\PrintQueue",
                           platform::KEY_ALL_ACCESS, &key);
    platform::RegSetValue(key, "{00000000-0000-4000-8000-000000000001}", platform::REG_SZ,
                          old.c_str(), static_cast<uint32_t>(old.size() + 1));
  }
  ServiceParameters parameters;
  parameters.Bind("Brelvane", platform::Hive::kLocalMachine);
  ASSERT_EQ(parameters.PersistJob("\"" + control_ + "\" \"" + control_ +
                                  "\" xml=/spool/next.xml;xsl=/spool/s.xsl;printerName=lp0"),
            0);
  ASSERT_EQ(RawQueueValues().size(), 2u);

  PrintThread thread;
  thread.BindLog("Brelvane");
  thread.StartPrinting();
  ASSERT_TRUE(WaitForLines(log_, 2));
  thread.Stop();
  EXPECT_EQ(ReadLines(log_)[0], "start xml=/spool/next.xml");
  EXPECT_TRUE(RawQueueValues().empty());
  std::vector<testsupport::LoggedEvent> events = events_.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].id, 5);  // the refused AddJob
  EXPECT_EQ(events[1].id, 5);
  EXPECT_EQ(events[1].strings,
            std::vector<std::string>{"Removed the persisted job {00000000-0000-4000-8000-"
                                     "000000000001} (" +
                                     std::to_string(old.size() + 1) +
                                     " bytes): too long to be listed or printed"});
  EXPECT_EQ(events[2].id, 18);
  EXPECT_EQ(events[2].strings, std::vector<std::string>{"1"});
}

// One run of the timed stand-in print control: its job and when it ran.
struct Print {
  std::string job;
  int64_t startNs = 0;
  int64_t endNs = INT64_MAX;  // no end logged: it was ended
};

// The runs in the order they started, from lines "start|end JOB NANOSECONDS".
std::vector<Print> ReadPrints(const std::string& log) {
  std::vector<Print> prints;
  for (const std::string& line : ReadLines(log)) {
    std::istringstream in(line);
    std::string what, job;
    int64_t ns = 0;
    in >> what >> job >> ns;
    if (what == "start") prints.push_back({job, ns});
    for (Print& print : prints) {
      if (what == "end" && print.job == job) print.endNs = ns;
    }
  }
  std::stable_sort(prints.begin(), prints.end(),
                   [](const Print& a, const Print& b) { return a.startNs < b.startNs; });
  return prints;
}

// The most runs that were under way at one time.
int MostAtOnce(const std::vector<Print>& prints) {
  int most = 0;
  for (const Print& at : prints) {
    int n = 0;
    for (const Print& print : prints) n += print.startNs <= at.startNs && at.startNs < print.endNs;
    most = std::max(most, n);
  }
  return most;
}

// The jobs of one printer ran one after the other, in this order.
void ExpectOneAfterTheOther(const std::vector<Print>& prints, const std::vector<std::string>& jobs) {
  std::vector<Print> runs;
  for (const std::string& job : jobs) {
    auto it = std::find_if(prints.begin(), prints.end(),
                           [&](const Print& print) { return print.job == job; });
    ASSERT_NE(it, prints.end()) << job << " never started";
    runs.push_back(*it);
  }
  for (size_t i = 1; i < runs.size(); ++i) {
    EXPECT_LE(runs[i - 1].endNs, runs[i].startNs) << runs[i - 1].job << " then " << runs[i].job;
  }
}

// A stand-in print control that logs when it starts and ends its job (the
// XML file's name without ".xml"); "hold" jobs wait for the release file,
// "hang" jobs never end, the others take a fifth of a second.
class PrintersTest : public PrintThreadTest {
 protected:
  void SetUp() override {
    PrintThreadTest::SetUp();
    WriteControl("${2%%.xml;*}; job=${job##*/}", " $(date +%s%N)", "*) sleep 0.2;;");
  }
  void Start(PrintThread& thread, uint32_t printThreads) {
    SetPrintLimit("PrintThreads", printThreads);
    thread.set_default_printer("P1");
    thread.BindLog("Brelvane");
    thread.StartPrinting();
    ASSERT_EQ(thread.printThreads(), printThreads);
  }
  // name@printer; an empty printer name is the default printer's.
  void AddAll(PrintThread& thread, const std::vector<std::pair<std::string, std::string>>& jobs) {
    for (const auto& [name, printer] : jobs) {
      std::string job = protocol::FormatJobCommandLine(control_, "/spool/" + name + ".xml",
                                                       "/spool/s.xsl", printer, 0, 1, 0, 0);
      ASSERT_TRUE(thread.Enqueue(job.c_str())) << name;
    }
  }
  int64_t NumberOf(PrintThread& thread, const std::string& name) {
    std::vector<jobs::JobRecord> current;
    thread.desk().history().ListCurrent(&current);
    for (const jobs::JobRecord& row : current) {
      if (row.commandLine.find("/" + name + ".xml;") != std::string::npos) return row.number;
    }
    return 0;
  }
};

// The jobs of P1 (also named "p1", or by no name: P1 is the default
// printer) and of P2: each printer's in order and never two at once, and
// up to PrintThreads printers at once.  A held job keeps its place.
TEST_F(PrintersTest, PrintersPrintAtOnceEachItsJobsInOrder) {
  struct Case {
    uint32_t printThreads;
    int atOnce;
  };
  const Case cases[] = {{1, 1}, {2, 2}, {3, 2}};
  const std::vector<std::pair<std::string, std::string>> jobs = {
      {"a1", "P1"}, {"b1", "P2"}, {"a2", "p1"}, {"a3", ""}, {"b2", "P2"}, {"a4", "P1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printThreads);
    std::remove(log_.c_str());
    PrintThread thread;
    Start(thread, c.printThreads);
    AddAll(thread, jobs);
    ASSERT_TRUE(WaitForLines(log_, 12));
    thread.Stop();
    std::vector<Print> prints = ReadPrints(log_);
    EXPECT_EQ(MostAtOnce(prints), c.atOnce);
    ExpectOneAfterTheOther(prints, {"a1", "a2", "a3", "a4"});
    ExpectOneAfterTheOther(prints, {"b1", "b2"});
    if (c.printThreads == 1) ExpectOneAfterTheOther(prints, {"a1", "b1", "a2", "a3", "b2", "a4"});
    EXPECT_TRUE(events_.Ids().empty());
  }
}

// A held job is skipped while the printer's later jobs print, and prints
// in its place among what waits once released; the other printer never
// waits for it.
TEST_F(PrintersTest, AHeldJobKeepsItsPlaceInItsPrintersOrder) {
  PrintThread thread;
  Release release(release_);
  Start(thread, 2);
  AddAll(thread, {{"hold1", "P1"}});
  ASSERT_TRUE(WaitForLines(log_, 1));
  AddAll(thread, {{"a1", "P1"}, {"a2", "P1"}, {"a3", "P1"}, {"b1", "P2"}});
  ASSERT_TRUE(thread.Hold(NumberOf(thread, "a1"), "tester").ok);
  ASSERT_TRUE(WaitForLines(log_, 3));  // b1, while hold1 runs
  EXPECT_EQ(ReadPrints(log_)[1].job, "b1");
  std::ofstream(release_).close();
  ASSERT_TRUE(WaitForLines(log_, 5));  // a2 starts: a1 is held
  ASSERT_TRUE(thread.Release(NumberOf(thread, "a1"), "tester").ok);
  ASSERT_TRUE(WaitForLines(log_, 10));
  thread.Stop();
  ExpectOneAfterTheOther(ReadPrints(log_), {"hold1", "a2", "a1", "a3"});
}

// Each printer's order holds over a restart: the jobs left behind print in
// their order on the next start.
TEST_F(PrintersTest, EachPrintersOrderHoldsOverARestart) {
  {
    PrintThread first;
    Release release(release_);
    Start(first, 2);
    AddAll(first, {{"hold1", "P1"}, {"hold2", "P2"}});
    ASSERT_TRUE(WaitForLines(log_, 2));
    AddAll(first, {{"a1", "P1"}, {"b1", "P2"}, {"b2", "P2"}, {"a2", "P1"}, {"b3", "P2"}});
    std::thread stopper([&first] { first.Stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ofstream(release_).close();
    stopper.join();
  }
  ASSERT_EQ(ReadLines(log_).size(), 4u);
  ASSERT_EQ(PersistedJobs().size(), 5u);
  PrintThread second;
  Start(second, 2);
  ASSERT_TRUE(WaitForLines(log_, 14));
  second.Stop();
  std::vector<Print> prints = ReadPrints(log_);
  ExpectOneAfterTheOther(prints, {"hold1", "a1", "a2"});
  ExpectOneAfterTheOther(prints, {"hold2", "b1", "b2", "b3"});
  EXPECT_EQ(MostAtOnce(prints), 2);
  EXPECT_TRUE(PersistedJobs().empty());
}

// A cancel ends its own print control only; a stop with two running ends
// both within the grace and keeps both jobs for the next start.
TEST_F(PrintersTest, ACancelEndsItsOwnPrintOnlyAndAStopEndsEveryOneWithinTheGrace) {
  struct Case {
    const char* cancel;  // the job cancelled first, if any
    std::vector<std::string> kept;
  };
  const Case cases[] = {{nullptr, {"hang1", "hang2"}}, {"hang1", {"hang2"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cancel == nullptr ? "stop" : "cancel");
    std::remove(log_.c_str());
    std::remove(events_.path().c_str());
    PrintThread thread;
    thread.set_stop_grace_ms(300);
    Start(thread, 2);
    AddAll(thread, {{"hang1", "P1"}, {"hang2", "P2"}});
    ASSERT_TRUE(WaitForLines(log_, 2));
    if (c.cancel != nullptr) {
      EXPECT_TRUE(thread.Cancel(NumberOf(thread, c.cancel), "tester").ok);
      EXPECT_TRUE(thread.jobs().IsRunning(NumberOf(thread, "hang2")));
    }
    auto start = std::chrono::steady_clock::now();
    thread.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    std::vector<std::string> persisted = PersistedJobs();
    ASSERT_EQ(persisted.size(), c.kept.size());
    for (const std::string& job : c.kept) {
      EXPECT_EQ(std::count_if(persisted.begin(), persisted.end(),
                              [&](const std::string& text) {
                                return text.find("/" + job + ".xml;") != std::string::npos;
                              }),
                1)
          << job;
    }
    std::vector<int> ids = events_.Ids();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 34), static_cast<long>(c.kept.size()));
    ServiceParameters parameters;  // the next case starts with an empty queue
    parameters.Bind("Brelvane", platform::Hive::kLocalMachine);
    for (const std::string& job : persisted) parameters.RemovePersistedJob(job);
  }
}

TEST(ThreadLayer, SignalsAreCountedAndStopWakesAnIdleThread) {
  WakeSignal signal;
  signal.Signal();
  signal.Signal();
  signal.Wait();
  signal.Wait();  // both counts were kept
  EXPECT_EQ(signal.count(), 0);
  std::thread waiter([&signal] { signal.Wait(10); });  // a finite limit still waits for a signal
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  signal.Signal();
  waiter.join();

  PrintThread idle;
  EXPECT_EQ(idle.state(), ThreadState::kStopped);
  idle.Start();
  EXPECT_EQ(idle.state(), ThreadState::kRunning);
  EXPECT_TRUE(idle.running());
  idle.Stop();  // returns only because Stop wakes the waiting loop
  EXPECT_EQ(idle.state(), ThreadState::kStopped);
  EXPECT_FALSE(idle.running());
  idle.Stop();  // without a thread: straight to Stopped
}

}  // namespace
}  // namespace kavelo::service
