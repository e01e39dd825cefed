// Runs the real Ostrevo program as a child process, started with command
// lines formatted as the service formats them, against a temporary registry,
// event-log file and folder spooler.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "jobs/job_history.h"
#include "jobs/job_settings.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/standby_process.h"
#include "printcontrol/test/job_files.h"
#include "testsupport/child_process.h"
#include "testsupport/scoped_env.h"

extern char** environ;

namespace kavelo::printcontrol {
namespace {

using testsupport::FileExists;
using testsupport::JobWorld;

const std::string kOstrevo = std::string(KAVELO_BIN_DIR) + "/Ostrevo";
constexpr int kRunLimitMs = 30000;

struct ProgramRun {
  bool ended = false;
  int exitCode = -1;
  std::string output;  // standard output
};

// Starts the program from a command line split as the system splits it and
// waits for it (at most kRunLimitMs), collecting its standard output.
ProgramRun RunCommandLine(const std::string& commandLine) {
  ProgramRun run;
  std::vector<std::string> args = platform::SplitCommandLine(commandLine);
  if (args.empty()) return run;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return run;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunLimitMs);
  char buffer[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    struct pollfd p = {out[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    ssize_t n = read(out[0], buffer, sizeof(buffer));
    if (n <= 0) break;
    run.output.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      run.ended = true;
      run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return run;
    }
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return run;
}

// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The job command line exactly as the service formats it.
std::string JobCommandLine(const std::string& xml, const std::string& xsl, int fromPage, int toPage,
                           const std::string& printer, int copy, int orien) {
  char text[4096];
  std::snprintf(text, sizeof(text),
                "\"%s\" \"%s\" xml=%s;xsl=%s;fromPage=%d;toPage=%d;printerName=%s;copy=%d;orien=%d",
                kOstrevo.c_str(), kOstrevo.c_str(), xml.c_str(), xsl.c_str(), fromPage, toPage,
                printer.c_str(), copy, orien);
  return text;
}

class OstrevoProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = std::make_unique<JobWorld>();
    world_->AddPrinter("Office Laser");
    MakeFiles();
  }
  void MakeFiles() {
    xml_ = world_->WriteSpoolFile("00000001.xml", testsupport::kSampleReport);
    xsl_ = world_->WriteSpoolFile("00000001.xsl", testsupport::kSampleStylesheet);
  }

  std::unique_ptr<JobWorld> world_;
  std::string xml_;
  std::string xsl_;
};

TEST_F(OstrevoProgramTest, EachSetUpFailureIsOneEventAndTheJobFilesAreDeleted) {
  std::string missing = world_->spool() + "/00000009.xsl";
  struct Case {
    std::string name;
    std::string xml, xsl;
    int fromPage, toPage;
    std::string printer;
    std::string event;
  };
  std::vector<Case> cases = {
      {"xml empty", "", xsl_, 1, 2, "Office Laser", "Error:Can't find xml file."},
      {"xsl empty", xml_, "", 1, 2, "Office Laser", "Can't find xsl file."},
      {"xsl missing", xml_, missing, 1, 2, "Office Laser", "Error:CreateFile(read), " + missing},
      {"xml missing", missing, xsl_, 1, 2, "Office Laser", "Error:CreateFile(read), " + missing},
      {"printer empty", xml_, xsl_, 1, 2, "", "Can't find printer."},
      {"toPage below fromPage", xml_, xsl_, 3, 2, "Office Laser", "Error in toPage:2"},
      {"toPage zero", xml_, xsl_, 1, 0, "Office Laser", "Error in toPage:0"},
  };
  for (const Case& c : cases) {
    MakeFiles();
    std::remove(world_->eventLog().c_str());
    ProgramRun run =
        RunCommandLine(JobCommandLine(c.xml, c.xsl, c.fromPage, c.toPage, c.printer, 2, 1));
    ASSERT_TRUE(run.ended) << c.name;
    EXPECT_EQ(0, run.exitCode) << c.name;
    std::vector<std::string> events = world_->EventsOf("ostrevo");
    ASSERT_EQ(1u, events.size()) << c.name;
    EXPECT_EQ("Ostrevo: " + c.event, events[0]) << c.name;
    // Message 1 of the program's table around it, with id 1, as an error.
    std::string line = world_->EventLines()[0];
    EXPECT_NE(std::string::npos, line.find("\"type\":\"error\",\"id\":1,")) << line;
    EXPECT_NE(std::string::npos, line.find("\"message\":\"Ostrevo: Ostrevo: ")) << line;
    // Whatever happened, the files named on the command line are gone.
    if (!c.xml.empty()) {
      EXPECT_FALSE(FileExists(c.xml)) << c.name;
    }
    if (!c.xsl.empty()) {
      EXPECT_FALSE(FileExists(c.xsl)) << c.name;
    }
  }
}

TEST_F(OstrevoProgramTest, AGoodJobPrintsOnThePrinterItsNameArrivesAs) {
  // Two blanks in a row in the name arrive as one: the printer "Office Laser".
  ProgramRun run = RunCommandLine(JobCommandLine(xml_, xsl_, 1, 2, "Office  Laser", 2, 1));
  ASSERT_TRUE(run.ended);
  std::vector<std::string> events = world_->EventsOf("ostrevo");
  EXPECT_TRUE(events.empty()) << (events.empty() ? "" : events[0]);
  EXPECT_FALSE(world_->PrinterFiles("Office Laser").empty());
  EXPECT_FALSE(FileExists(xml_));
  EXPECT_FALSE(FileExists(xsl_));
}

// Started ahead of its job, the print control runs the job the service
// hands over on its standard input, with the environment entries given;
// an empty input lets it go, a request no service sends is one event.
TEST_F(OstrevoProgramTest, InStandbyItRunsTheJobItIsHanded) {
  struct Case {
    const char* name;
    std::string input;
    int exitCode;
    bool printed;
    size_t events;
  };
  const std::string request = platform::FormatStandbyRequest(
      platform::SplitCommandLine(JobCommandLine(xml_, xsl_, 1, 2, "Office Laser", 1, 0)),
      {std::string(jobs::kJobNumberVariable) + "=0"});
  // The job comes last: its PDF stays in the printer's folder.
  const Case cases[] = {{"let go", "", 0, false, 0},
                        {"not a request", "xml=/etc/passwd", 2, false, 1},
                        {"a job", request, 0, true, 0}};
  for (const Case& c : cases) {
    MakeFiles();
    std::remove(world_->eventLog().c_str());
    std::string out, err;
    EXPECT_EQ(testsupport::RunProgram({kOstrevo, "/standby"}, c.input, &out, &err, kRunLimitMs),
              c.exitCode)
        << c.name << ": " << err;
    EXPECT_EQ(world_->PrinterFiles("Office Laser").empty(), !c.printed) << c.name;
    EXPECT_EQ(world_->EventsOf("ostrevo").size(), c.events) << c.name;
    // Only a job removes its files.
    EXPECT_EQ(FileExists(xml_), !c.printed) << c.name;
  }
}

// Under a job number the print control writes what only it knows into the
// service's history: the title, the documents, the stage times, and for a
// failure the very text of its event; a failed job's spooled files stay
// when the service asks so.
TEST_F(OstrevoProgramTest, UnderAJobNumberItRecordsItsRunInTheHistory) {
  struct Case {
    const char* name;
    const char* printer;
    const char* keep;
    bool failed;
    bool filesKept;
  };
  const Case cases[] = {{"printed", "Office Laser", "1", false, false},
                        {"failed, files kept", "Elsewhere", "1", true, true},
                        {"failed, files removed", "Elsewhere", "0", true, false}};
  jobs::JobHistory history;
  ASSERT_TRUE(history.Open(jobs::DefaultHistoryPath(), jobs::JobHistory::Mode::kReadWrite));
  int64_t number = 6;
  for (const Case& c : cases) {
    MakeFiles();
    std::remove(world_->eventLog().c_str());
    jobs::JobRecord row;
    row.number = ++number;
    row.state = jobs::JobState::kPrinting;
    ASSERT_TRUE(history.Add(row));
    testsupport::ScopedEnv numberEnv(jobs::kJobNumberVariable, std::to_string(number));
    testsupport::ScopedEnv keepEnv(jobs::kKeepFailedVariable, c.keep);
    ProgramRun run = RunCommandLine(JobCommandLine(xml_, xsl_, 1, 2, c.printer, 1, 0));
    ASSERT_TRUE(run.ended) << c.name;
    ASSERT_TRUE(history.Find(number, &row)) << c.name;
    EXPECT_FALSE(row.title.empty()) << c.name;
    std::vector<std::string> events = world_->EventsOf("ostrevo");
    if (c.failed) {
      ASSERT_EQ(events.size(), 1u) << c.name;
      EXPECT_EQ(row.failure, events[0]) << c.name;
    } else {
      EXPECT_TRUE(events.empty()) << c.name;
      EXPECT_EQ(row.failure, "") << c.name;
      EXPECT_EQ(row.documents, 1) << c.name;
      EXPECT_GT(row.transformSeconds + row.renderSeconds, 0) << c.name;
    }
    EXPECT_EQ(row.filesKept, c.filesKept) << c.name;
    // Kept are the spooled files alone: what the run derived from them (the
    // print-style copy of the stylesheet, the work folder) is gone.
    const std::vector<std::string> kept = {"00000001.xml", "00000001.xsl"};
    EXPECT_EQ(FolderNames(world_->spool()), c.filesKept ? kept : std::vector<std::string>())
        << c.name;
  }
}

TEST_F(OstrevoProgramTest, AWrongPrinterNameIsNoSetUpFailure) {
  // Only an empty name fails the set-up; a wrong one fails when printing,
  // with one event of its own, and the files still go.
  ProgramRun run = RunCommandLine(JobCommandLine(xml_, xsl_, 1, 2, "Elsewhere", 1, 0));
  ASSERT_TRUE(run.ended);
  std::vector<std::string> events = world_->EventsOf("ostrevo");
  ASSERT_EQ(1u, events.size());
  EXPECT_NE("Ostrevo: Can't find printer.", events[0]);
  EXPECT_FALSE(FileExists(xml_));
  EXPECT_FALSE(FileExists(xsl_));
}

TEST_F(OstrevoProgramTest, AStylesheetAnotherProcessIsWritingEndsTheJob) {
  FILE* writer = std::fopen(xsl_.c_str(), "ab");
  ASSERT_NE(nullptr, writer);
  ProgramRun run = RunCommandLine(JobCommandLine(xml_, xsl_, 1, 1, "Office Laser", 1, 0));
  std::fclose(writer);
  ASSERT_TRUE(run.ended);
  std::vector<std::string> events = world_->EventsOf("ostrevo");
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ("Ostrevo: Error:CreateFile(read), " + xsl_, events[0]);
  EXPECT_FALSE(FileExists(xml_));
  EXPECT_FALSE(FileExists(xsl_));
}

TEST_F(OstrevoProgramTest, AnEmptyReportEndsTheJobWithAMessage) {
  xml_ = world_->WriteSpoolFile("00000001.xml", "");
  ProgramRun run = RunCommandLine(JobCommandLine(xml_, xsl_, 1, 1, "Office Laser", 1, 0));
  ASSERT_TRUE(run.ended);
  std::vector<std::string> events = world_->EventsOf("ostrevo");
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ("Ostrevo: Error:File is empty. " + xml_ + ".", events[0]);
  EXPECT_FALSE(FileExists(xml_));
  EXPECT_FALSE(FileExists(xsl_));
}

TEST_F(OstrevoProgramTest, ATooLongCommandLineOrValueRemovesTheJobFilesOnly) {
  // A folder whose path does not fit a 512-byte value field.
  std::string deep = world_->spool();
  for (int i = 0; i < 3; ++i) {
    deep += "/" + std::string(200, 'd');
    ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
  }
  const std::string victim = world_->WriteSpoolFile("notes.txt", "keep me");
  const std::string target = world_->WriteSpoolFile("target.xsl", "keep me too");
  const std::string link = world_->spool() + "/link.xsl";
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  const std::string longPrinter(1100, 'p');
  struct Case {
    std::string name;
    std::string xml, xsl, printer;
    std::string event;  // the start of the one event
    std::vector<std::string> gone, kept;
  };
  std::vector<Case> cases = {
      {"command line too long",
       xml_,
       xsl_,
       longPrinter,
       "Error:Command line too long",
       {xml_, xsl_},
       {}},
      {"xml value too long",
       deep + "/00000001.xml",
       xsl_,
       "Office Laser",
       "Error:xml value too long.",
       {deep + "/00000001.xml", xsl_},
       {}},
      {"xsl value too long",
       xml_,
       deep + "/00000001.xsl",
       "Office Laser",
       "Error:xsl value too long.",
       {xml_, deep + "/00000001.xsl"},
       {}},
      // Only regular files of the job's kinds go, never what a symbolic
      // link points to, nor a path that climbs out of its folder.
      {"other files named",
       victim,
       link,
       longPrinter,
       "Error:Command line too long",
       {},
       {victim, link, target}},
      {"path through ..",
       world_->spool() + "/../spool/00000001.xml",
       xsl_,
       longPrinter,
       "Error:Command line too long",
       {xsl_},
       {xml_}},
  };
  for (const Case& c : cases) {
    MakeFiles();
    for (const std::string& path : c.gone) {
      if (!FileExists(path)) world_->WriteSpoolFile(path.substr(world_->spool().size() + 1), "x");
    }
    std::remove(world_->eventLog().c_str());
    ProgramRun run = RunCommandLine(JobCommandLine(c.xml, c.xsl, 1, 1, c.printer, 1, 0));
    ASSERT_TRUE(run.ended) << c.name;
    std::vector<std::string> events = world_->EventsOf("ostrevo");
    ASSERT_EQ(1u, events.size()) << c.name;
    EXPECT_EQ(0u, events[0].find("Ostrevo: " + c.event)) << c.name << ": " << events[0];
    for (const std::string& path : c.gone) EXPECT_FALSE(FileExists(path)) << c.name << ": " << path;
    for (const std::string& path : c.kept) EXPECT_TRUE(FileExists(path)) << c.name << ": " << path;
  }
}

class RegistrationTest : public OstrevoProgramTest {
 protected:
  static constexpr const char* kKey =
      "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\ostrevo";

  struct Value {
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };

  // The values of the source key, or nothing when the key does not exist.
  bool ReadSourceKey(std::vector<Value>* values) {
    values->clear();
    platform::RegKey key;
    if (platform::RegOpenKey(platform::Hive::kLocalMachine, kKey, platform::KEY_READ, &key) != 0) {
      return false;
    }
    for (uint32_t i = 0;; ++i) {
      char name[256];
      uint32_t nameLength = sizeof(name);
      uint32_t type = 0;
      uint8_t data[1024];
      uint32_t dataLength = sizeof(data);
      if (platform::RegEnumValue(key, i, name, &nameLength, &type, data, &dataLength) != 0) break;
      values->push_back({name, type, std::vector<uint8_t>(data, data + dataLength)});
    }
    return true;
  }
};

TEST_F(RegistrationTest, RegServerTwiceLeavesOneKeyWithTheTwoValues) {
  for (const char* command : {"/REGSERVER", "/regserver"}) {
    ProgramRun run = RunCommandLine("\"" + kOstrevo + "\" " + command);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ("", run.output) << command;
  }
  std::vector<Value> values;
  ASSERT_TRUE(ReadSourceKey(&values));
  ASSERT_EQ(2u, values.size());
  EXPECT_EQ("EventMessageFile", values[0].name);
  EXPECT_EQ(platform::REG_EXPAND_SZ, values[0].type);
  char resolved[4096];
  ASSERT_NE(nullptr, realpath(kOstrevo.c_str(), resolved));
  std::string expected(resolved);
  expected.push_back('\0');  // stored with its terminating NUL
  EXPECT_EQ(expected, std::string(values[0].data.begin(), values[0].data.end()));
  EXPECT_EQ("TypesSupported", values[1].name);
  EXPECT_EQ(platform::REG_DWORD, values[1].type);
  EXPECT_EQ((std::vector<uint8_t>{7, 0, 0, 0}), values[1].data);
  // Registering writes no event and touches no job.
  EXPECT_TRUE(world_->EventsOf("ostrevo").empty());
}

TEST_F(RegistrationTest, RegServerSaysWhenTheSourceCannotBeWritten) {
  const std::string notAFolder = world_->root() + "/not-a-folder";
  testsupport::WriteFile(notAFolder, "x");
  testsupport::ScopedEnv registry("KAVELO_REGISTRY_DIR", notAFolder);
  ProgramRun run = RunCommandLine("\"" + kOstrevo + "\" /RegServer");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ("fail to install ostrevo.", run.output);
}

TEST_F(RegistrationTest, UnregServerRemovesTheSourceOrSaysItFailed) {
  ProgramRun first = RunCommandLine("\"" + kOstrevo + "\" /unregserver");
  ASSERT_TRUE(first.ended);
  EXPECT_EQ("fail to uninstall ostrevo\n.", first.output);

  ASSERT_TRUE(RunCommandLine("\"" + kOstrevo + "\" /RegServer").ended);
  std::vector<Value> values;
  ASSERT_TRUE(ReadSourceKey(&values));
  ProgramRun second = RunCommandLine("\"" + kOstrevo + "\" /UnRegServer");
  ASSERT_TRUE(second.ended);
  EXPECT_EQ("", second.output);
  EXPECT_FALSE(ReadSourceKey(&values));
}

TEST_F(RegistrationTest, ARegistrationCommandIgnoresTheArgumentsAfterIt) {
  std::string job = JobCommandLine(xml_, xsl_, 1, 1, "Office Laser", 1, 0);
  // The job's keys after /regserver are not a job: its files stay.
  ProgramRun run =
      RunCommandLine("\"" + kOstrevo + "\" /rEgSeRvEr " + job.substr(job.find("xml=")));
  ASSERT_TRUE(run.ended);
  std::vector<Value> values;
  EXPECT_TRUE(ReadSourceKey(&values));
  EXPECT_TRUE(FileExists(xml_));
  EXPECT_TRUE(FileExists(xsl_));
  EXPECT_TRUE(world_->EventsOf("ostrevo").empty());
}

TEST_F(RegistrationTest, NoArgumentsDoNothing) {
  ProgramRun run = RunCommandLine("\"" + kOstrevo + "\"");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(0, run.exitCode);
  EXPECT_EQ("", run.output);
  std::vector<Value> values;
  EXPECT_FALSE(ReadSourceKey(&values));
  EXPECT_TRUE(world_->EventLines().empty());
  EXPECT_TRUE(FileExists(xml_));
}

}  // namespace
}  // namespace kavelo::printcontrol
