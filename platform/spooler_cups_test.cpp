// The CUPS back end against the private scheduler of the test command
// (KAVELO_TEST_CUPS, CUPS_SERVER), and against schedulers that are missing
// or never answer.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "platform/internal/spooler_internal.h"
#include "platform/spooler.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace kavelo::platform {
namespace {

using Clock = std::chrono::steady_clock;

using testsupport::ScopedEnv;

std::string TempFile(const std::string& content) {
  char pattern[] = "/tmp/kavelo-cups-doc.XXXXXX";
  int fd = mkstemp(pattern);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  close(fd);
  return pattern;
}

// An IPP request about one queue, sent with libcups' own defaults; the
// status of the answer.
ipp_status_t AdminRequest(ipp_op_t op, const std::string& queue, ipp_t* attributes = nullptr) {
  ipp_t* request = ippNewRequest(op);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%s", queue.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  if (attributes) {
    for (ipp_attribute_t* a = ippFirstAttribute(attributes); a; a = ippNextAttribute(attributes)) {
      ippCopyAttribute(request, a, 0);
    }
    ippDelete(attributes);
  }
  ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/admin/"));
  return cupsLastError();
}

int PrinterState(const std::string& queue) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%s", queue.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  ipp_attribute_t* state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
  int value = state ? ippGetInteger(state, 0) : -1;
  ippDelete(response);
  return value;
}

// A raw queue of the test's own on file:///dev/null, accepting but stopped,
// so that its jobs stay and no other test's jobs mix in.
class CupsSpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getenv("KAVELO_TEST_CUPS") == nullptr) GTEST_SKIP() << "KAVELO_TEST_CUPS is not set";
    cupsSetServer(nullptr);
    queue_ = "kavelo-test-" + std::to_string(getpid());
    ipp_t* attrs = ippNew();
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, "file:///dev/null");
    ippAddBoolean(attrs, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
    ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_STOPPED);
    ASSERT_EQ(AdminRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, queue_, attrs), IPP_STATUS_OK)
        << cupsLastErrorString();
    ASSERT_EQ(AdminRequest(IPP_OP_PAUSE_PRINTER, queue_), IPP_STATUS_OK);
    spooler_ = MakeCupsSpooler();
    document_ = TempFile("kavelo test page\n");
  }
  void TearDown() override {
    if (!queue_.empty()) AdminRequest(IPP_OP_CUPS_DELETE_PRINTER, queue_);
    if (!document_.empty()) unlink(document_.c_str());
  }

  int32_t Submit(const std::string& name, bool hold = false) {
    SubmitOptions options;
    options.documentName = name;
    options.hold = hold;
    int32_t id = 0;
    EXPECT_EQ(spooler_->SubmitDocument(queue_, document_, options, &id), kSpoolerOk);
    EXPECT_GT(id, 0);
    return id;
  }

  std::vector<int32_t> Order() {
    std::vector<SpoolerJob> jobs;
    EXPECT_EQ(spooler_->ListJobs(queue_, &jobs), kSpoolerOk);
    std::vector<int32_t> ids;
    for (size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_EQ(jobs[i].position, static_cast<int32_t>(i + 1));
      ids.push_back(jobs[i].jobId);
    }
    return ids;
  }

  int32_t PositionOf(int32_t id) {
    SpoolerJob job;
    return spooler_->GetJob(queue_, id, &job) == kSpoolerOk ? job.position : -1;
  }

  std::string queue_;
  std::string document_;
  std::unique_ptr<Spooler> spooler_;
};

TEST_F(CupsSpoolerTest, SubmittedJobIsListedWithDocumentNameAndUser) {
  int32_t id = Submit("/opt/kavelo/spool/00000001_1.html");
  std::string longName = "/opt/kavelo/" + std::string(300, 'd') + "/00000002_1.html";
  int32_t held = Submit(longName, true);

  int count = 0;
  ASSERT_EQ(spooler_->JobCount(queue_, &count), kSpoolerOk);
  EXPECT_EQ(count, 2);
  SpoolerJob job;
  ASSERT_EQ(spooler_->GetJob(queue_, id, &job), kSpoolerOk);
  EXPECT_EQ(job.jobId, id);
  EXPECT_EQ(job.documentName, "/opt/kavelo/spool/00000001_1.html");
  EXPECT_EQ(job.userName, EffectiveUserName());
  EXPECT_FALSE(job.machineName.empty());
  EXPECT_EQ(job.position, 1);
  EXPECT_EQ(job.status, 0u);  // pending on a stopped queue

  // A title too long for IPP keeps its end: the file name still matches.
  ASSERT_EQ(spooler_->GetJob(queue_, held, &job), kSpoolerOk);
  EXPECT_EQ(job.documentName.size(), 255u);
  EXPECT_EQ(longName.substr(longName.size() - 255), job.documentName);
  EXPECT_EQ(job.status, kJobStatusPaused);
  EXPECT_EQ(job.position, 2);

  EXPECT_EQ(spooler_->GetJob(queue_, held + 1000, &job), kSpoolerInvalidJob);
}

TEST_F(CupsSpoolerTest, PauseResumeAndCancelTakeEffect) {
  int32_t first = Submit("first");
  int32_t second = Submit("second");
  SpoolerJob job;

  ASSERT_EQ(spooler_->ControlJob(queue_, second, JobCommand::kPause), kSpoolerOk);
  ASSERT_EQ(spooler_->GetJob(queue_, second, &job), kSpoolerOk);
  EXPECT_EQ(job.status, kJobStatusPaused);
  ASSERT_EQ(spooler_->ControlJob(queue_, second, JobCommand::kResume), kSpoolerOk);
  ASSERT_EQ(spooler_->GetJob(queue_, second, &job), kSpoolerOk);
  EXPECT_EQ(job.status, 0u);
  // Resuming a job that is not paused has nothing to do.
  EXPECT_EQ(spooler_->ControlJob(queue_, second, JobCommand::kResume), kSpoolerOk);

  ASSERT_EQ(spooler_->ControlJob(queue_, first, JobCommand::kCancel), kSpoolerOk);
  EXPECT_EQ(spooler_->GetJob(queue_, first, &job), kSpoolerInvalidJob);
  EXPECT_EQ(Order(), std::vector<int32_t>{second});
  EXPECT_EQ(PositionOf(second), 1);

  // Commands on jobs that are no longer (or never were) active.
  for (JobCommand command : {JobCommand::kPause, JobCommand::kResume, JobCommand::kCancel}) {
    EXPECT_EQ(spooler_->ControlJob(queue_, first, command), kSpoolerInvalidJob);
    EXPECT_EQ(spooler_->ControlJob(queue_, second + 100000, command), kSpoolerInvalidJob);
  }
  EXPECT_EQ(spooler_->SetJobPosition(queue_, first, 1), kSpoolerInvalidJob);
}

TEST_F(CupsSpoolerTest, PositionChangesTakeEffect) {
  std::vector<int32_t> ids;
  for (int i = 1; i <= 12; ++i)
    ids.push_back(Submit("job " + std::to_string(i), i == 7 || i == 9 || i == 12));
  ASSERT_EQ(Order(), ids);

  // The held jobs at 7, 9 and 12 go to 7, 8 and 9, as the release of held
  // jobs moves them: each behind the one before.
  int32_t p = PositionOf(ids[6]);
  ASSERT_EQ(p, 7);
  ASSERT_EQ(spooler_->SetJobPosition(queue_, ids[8], p + 1), kSpoolerOk);
  ASSERT_EQ(spooler_->SetJobPosition(queue_, ids[11], p + 2), kSpoolerOk);
  EXPECT_EQ(PositionOf(ids[6]), 7);
  EXPECT_EQ(PositionOf(ids[8]), 8);
  EXPECT_EQ(PositionOf(ids[11]), 9);
  std::vector<int32_t> model = {ids[0], ids[1], ids[2],  ids[3], ids[4], ids[5],
                                ids[6], ids[8], ids[11], ids[7], ids[9], ids[10]};
  ASSERT_EQ(Order(), model);

  // Further moves, each checked against the whole order.
  const struct {
    int from;  // current position
    int to;    // requested position
  } moves[] = {{3, 1}, {1, 12}, {12, 1}, {5, 6}, {6, 5}, {2, 40}, {4, 4}};
  for (const auto& move : moves) {
    SCOPED_TRACE(std::to_string(move.from) + " to " + std::to_string(move.to));
    int32_t id = model[move.from - 1];
    model.erase(model.begin() + move.from - 1);
    size_t place = std::min(static_cast<size_t>(move.to - 1), model.size());
    model.insert(model.begin() + static_cast<long>(place), id);
    ASSERT_EQ(spooler_->SetJobPosition(queue_, id, move.to), kSpoolerOk);
    ASSERT_EQ(Order(), model);
  }
  EXPECT_EQ(spooler_->SetJobPosition(queue_, model[0], 0), kSpoolerOk);  // no change
  EXPECT_EQ(Order(), model);
  EXPECT_EQ(spooler_->SetJobPosition(queue_, model[0], -1), kSpoolerInvalidParameter);
}

TEST_F(CupsSpoolerTest, OpenPrinterTellsUseFromFullAccess) {
  int32_t id = Submit("must survive the access test");
  EXPECT_EQ(spooler_->OpenPrinter(queue_, PrinterAccess::kUse), kSpoolerOk);
  // Queue names ignore case at the scheduler.
  std::string upper = queue_;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_EQ(spooler_->OpenPrinter(upper, PrinterAccess::kUse), kSpoolerOk);
  EXPECT_EQ(spooler_->OpenPrinter(queue_, PrinterAccess::kFull),
            geteuid() == 0 ? kSpoolerOk : kSpoolerAccessDenied);

  // Another user may use the queue but not administer it.  (root may
  // speak for any user on the local socket.)
  if (geteuid() == 0) {
    int use = -1, full = -1;
    std::thread other([&] {
      cupsSetUser("nobody");
      std::unique_ptr<Spooler> spooler = MakeCupsSpooler();
      use = spooler->OpenPrinter(queue_, PrinterAccess::kUse);
      full = spooler->OpenPrinter(queue_, PrinterAccess::kFull);
    });
    other.join();
    EXPECT_EQ(use, kSpoolerOk);
    EXPECT_EQ(full, kSpoolerAccessDenied);
  }

  // Over TCP there is no peer credential: the scheduler asks for a
  // password, none is given, and nothing waits for one.
  std::string socket = getenv("CUPS_SERVER");
  std::ifstream portFile(socket.substr(0, socket.rfind('/')) + "/port");
  std::string port;
  if (std::getline(portFile, port)) {
    ScopedEnv server("CUPS_SERVER", ("127.0.0.1:" + port).c_str());
    std::unique_ptr<Spooler> tcp = MakeCupsSpooler(5000);
    auto start = Clock::now();
    EXPECT_EQ(tcp->OpenPrinter(queue_, PrinterAccess::kUse), kSpoolerOk);
    EXPECT_EQ(tcp->OpenPrinter(queue_, PrinterAccess::kFull), kSpoolerAccessDenied);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  }

  EXPECT_EQ(Order(), std::vector<int32_t>{id});  // the probe cancelled nothing
  EXPECT_EQ(spooler_->OpenPrinter("no-such-queue", PrinterAccess::kUse),
            kSpoolerInvalidPrinterName);
  EXPECT_EQ(spooler_->OpenPrinter("no-such-queue", PrinterAccess::kFull),
            kSpoolerInvalidPrinterName);
}

TEST_F(CupsSpoolerTest, BadPrinterNamesFailCleanly) {
  const std::string names[] = {
      "",
      "with blank",
      "with\"quote",
      "with'quote",
      "back\\slash",
      "a/b",
      "../" + queue_,
      std::string(600, 'q'),
      std::string("nul\0byte", 8),
      "percent%2Fslash",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name.size() > 40 ? "long name" : name);
    EXPECT_EQ(spooler_->OpenPrinter(name, PrinterAccess::kUse), kSpoolerInvalidPrinterName);
    std::vector<SpoolerJob> jobs;
    EXPECT_EQ(spooler_->ListJobs(name, &jobs), kSpoolerInvalidPrinterName);
    PageGeometry geometry;
    EXPECT_EQ(spooler_->GetPageGeometry(name, &geometry), kSpoolerInvalidPrinterName);
    int32_t id = -1;
    EXPECT_EQ(spooler_->SubmitDocument(name, document_, {}, &id), kSpoolerInvalidPrinterName);
    EXPECT_EQ(spooler_->ResumePrinter(name), kSpoolerInvalidPrinterName);
  }
}

TEST_F(CupsSpoolerTest, GeometryOfTheA4QueueInDeviceUnits) {
  PageGeometry g;
  ASSERT_EQ(spooler_->GetPageGeometry("kavelo-pdf", &g), kSpoolerOk);
  // A4 (210 x 297 mm) at 600 dpi, edges of 18 pt left and 36 pt top.
  EXPECT_EQ(g.physicalWidth, 4961);
  EXPECT_EQ(g.physicalHeight, 7016);
  EXPECT_EQ(g.offsetX, 150);
  EXPECT_EQ(g.offsetY, 300);
  EXPECT_EQ(g.resolutionX, 600);
  EXPECT_EQ(g.resolutionY, 600);
  EXPECT_EQ(spooler_->GetPageGeometry("kavelo-raw", &g), kSpoolerNotSupported);
  EXPECT_EQ(spooler_->GetPageGeometry("no-such-queue", &g), kSpoolerInvalidPrinterName);
}

TEST_F(CupsSpoolerTest, DefaultPrinterAndPrinterList) {
  {
    testsupport::TempDir home("kavelo-cups-home");
    ScopedEnv noLpoptions("HOME", home.path());
    ScopedEnv lpdest("LPDEST", nullptr);
    ScopedEnv printer("PRINTER", nullptr);
    std::string name;
    ASSERT_EQ(MakeCupsSpooler()->DefaultPrinter(&name), kSpoolerOk);
    EXPECT_EQ(name, "kavelo-pdf");
  }
  std::vector<PrinterEntry> printers;
  ASSERT_EQ(spooler_->ListPrinters(&printers), kSpoolerOk);
  int found = 0;
  for (const PrinterEntry& p : printers) {
    if (p.printerName == "kavelo-pdf") {
      ++found;
      EXPECT_EQ(p.portName, "file:///dev/null");
      EXPECT_EQ(p.driverName, "Kavelo Test PDF");
    }
    if (p.printerName == "kavelo-raw" || p.printerName == queue_) {
      ++found;
      EXPECT_EQ(p.portName, "file:///dev/null");
    }
  }
  EXPECT_EQ(found, 3);

  // Without KAVELO_SPOOLER a scheduler that answers is chosen.
  ScopedEnv choice("KAVELO_SPOOLER", nullptr);
  EXPECT_TRUE(CupsSchedulerAnswers(1000));
  std::unique_ptr<Spooler> chosen = OpenSpooler();
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->OpenPrinter(queue_, PrinterAccess::kUse), kSpoolerOk);
}

TEST_F(CupsSpoolerTest, ResumePrinterLetsTheQueuePrint) {
  int32_t id = Submit("printed to /dev/null");
  ASSERT_EQ(PrinterState(queue_), IPP_PSTATE_STOPPED);
  ASSERT_EQ(spooler_->ResumePrinter(queue_), kSpoolerOk);
  EXPECT_NE(PrinterState(queue_), IPP_PSTATE_STOPPED);
  // The raw job goes to /dev/null and leaves the active jobs.
  SpoolerJob job;
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (spooler_->GetJob(queue_, id, &job) == kSpoolerOk && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(spooler_->GetJob(queue_, id, &job), kSpoolerInvalidJob);
  EXPECT_EQ(spooler_->ResumePrinter(queue_), kSpoolerOk);  // resuming again is harmless
}

// A socket that accepts connections in the kernel but never answers: a
// stopped scheduler.
class SilentServer {
 public:
  SilentServer() {
    path_ = dir_.File("cups.sock");
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 16);
  }
  ~SilentServer() { close(fd_); }
  const std::string& path() const { return path_; }

 private:
  testsupport::TempDir dir_{"kavelo-silent"};
  std::string path_;
  int fd_ = -1;
};

TEST(CupsSpoolerFailureTest, MissingOrSilentSchedulerFailsWithinTheLimit) {
  SilentServer silent;
  const struct {
    std::string server;
    int status;
  } cases[] = {
      {"/nonexistent/kavelo/cups.sock", kSpoolerUnavailable},
      {silent.path(), kSpoolerTimeout},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    ScopedEnv server("CUPS_SERVER", c.server.c_str());
    std::unique_ptr<Spooler> spooler = MakeCupsSpooler(300);
    std::string name;
    std::vector<PrinterEntry> printers;
    std::vector<SpoolerJob> jobs;
    PageGeometry geometry;
    int32_t id = 0;
    // Each request ends within its 300 ms, plus the second libcups waits
    // for an early answer before it sends a request body, plus slack.
    Clock::time_point last = Clock::now();
    auto limited = [&last](int status) {
      auto now = Clock::now();
      EXPECT_LT(now - last, std::chrono::milliseconds(2500));
      last = now;
      return status;
    };
    EXPECT_EQ(limited(spooler->DefaultPrinter(&name)), c.status);
    EXPECT_EQ(limited(spooler->ListPrinters(&printers)), c.status);
    EXPECT_EQ(limited(spooler->OpenPrinter("kavelo-pdf", PrinterAccess::kUse)), c.status);
    EXPECT_EQ(limited(spooler->ListJobs("kavelo-pdf", &jobs)), c.status);
    EXPECT_EQ(limited(spooler->GetPageGeometry("kavelo-pdf", &geometry)), c.status);
    EXPECT_EQ(limited(spooler->SubmitDocument("kavelo-pdf", "/etc/hostname", {}, &id)), c.status);
    EXPECT_FALSE(CupsSchedulerAnswers(300));
  }
}

}  // namespace
}  // namespace kavelo::platform
