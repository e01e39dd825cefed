// The intake exchange on real loopback sockets: the bytes on the wire, the
// events, the final status and the spool files for a good job and for every
// way the exchange can fail.
#include "service/intake/intake_exchange.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "service/host/event_log_channel.h"
#include "service/host/service_messages.h"
#include "service/queue/queue_thread.h"
#include "service/test/intake_fixture.h"

namespace kavelo::service {
namespace {

using testsupport::Counted;
using testsupport::CountedFile;
using testsupport::Magic;
using testsupport::U16;
using testsupport::U32;

const std::string kXml = "<report><title>Sales</title></report>";
const std::string kXsl = "<xsl:stylesheet version=\"1.0\"/>";
const std::string kVersionReply(
    "\x00\x05"
    "1.0.0",
    7);
const std::string kOk = std::string("\x00\x00", 2);
const std::string kFailed = std::string("\x00\x01", 2);
const std::string kRejected = "\xFF\xFF";

std::string Prefix(const std::string& options = "copies=2") {
  return Magic() + Counted("1.0.0") + Counted(options);
}
// What the service sends up to the status that follows the option text.
std::string PrefixReply() { return kOk + kVersionReply + kOk + kOk; }

class IntakeExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallServiceMessageTable();
    channel_.Register(kServiceEventSource);
    xmlPath_ = spool_.path() + "/00000001.xml";
    xslPath_ = spool_.path() + "/00000001.xsl";
  }

  struct Outcome {
    bool queued = false;
    std::string reply;  // every byte the service sent, until it closed
  };

  // Runs one exchange: the client sends bytes, then closes its side unless
  // silent; the service side has a short receive time-out.
  Outcome Exchange(const std::string& bytes, bool silent = false,
                   const std::string& printerApplication = "/opt/kavelo/PrintService/Ostrevo",
                   bool filesReserved = false) {
    testsupport::LoopbackPair pair;
    testsupport::RawClient client;
    int service = pair.Connect(&client);
    EXPECT_GE(service, 0);
    timeval limit{0, 300 * 1000};
    setsockopt(service, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    Outcome outcome;
    IntakeExchange exchange(&channel_, &queue_, printerApplication, "lp0");
    std::thread runner(
        [&] { outcome.queued = exchange.Run(service, xmlPath_, xslPath_, filesReserved); });
    EXPECT_TRUE(client.Send(bytes));
    if (!silent) client.ShutdownWrite();
    outcome.reply = client.ReadToEnd();
    runner.join();
    return outcome;
  }

  testsupport::EventLogCapture events_;
  testsupport::TempDir spool_;
  EventLogChannel channel_;
  QueueThread queue_{false};
  std::string xmlPath_;
  std::string xslPath_;
};

TEST_F(IntakeExchangeTest, AGoodJobIsAnsweredByteForByteAndQueued) {
  Outcome outcome =
      Exchange(Prefix("printer='Office 2', copies=2") + CountedFile(kXml) + CountedFile(kXsl));
  EXPECT_EQ(outcome.reply, PrefixReply() + kOk + kOk);
  EXPECT_TRUE(outcome.queued);
  EXPECT_TRUE(events_.Ids().empty());
  EXPECT_EQ(testsupport::ReadFile(xmlPath_), kXml);
  EXPECT_EQ(testsupport::ReadFile(xslPath_), kXsl);
  std::string job;
  ASSERT_TRUE(queue_.jobs().First(&job));
  EXPECT_EQ(job, "\"/opt/kavelo/PrintService/Ostrevo\" \"/opt/kavelo/PrintService/Ostrevo\" xml=" +
                     xmlPath_ + ";xsl=" + xslPath_ +
                     ";fromPage=0;toPage=0;printerName=Office 2;copy=2;orien=0");
}

TEST_F(IntakeExchangeTest, EachFailureGivesItsEventStatusesAndSpoolFiles) {
  const std::string big(20000, 'x');  // more than two chunks
  struct Case {
    const char* name;
    std::string send;
    bool silent;
    std::string reply;
    std::vector<int> events;
    bool queued;
    std::string xml, xsl;  // spool contents of a queued job
  } cases[] = {
      {"client gone after connect", "", false, kFailed, {25}, false, "", ""},
      {"magic short", "XP", false, kFailed, {25}, false, "", ""},
      {"wrong magic", U32(0x12345678), false, kRejected + kFailed, {25}, false, "", ""},
      {"wrong version",
       Magic() + Counted("1.0.1"),
       false,
       kOk + kVersionReply + kRejected + kFailed,
       {29},
       false,
       "",
       ""},
      {"empty version",
       Magic() + Counted(""),
       false,
       kOk + kVersionReply + kRejected + kFailed,
       {29},
       false,
       "",
       ""},
      {"version short", Magic() + U16(5) + "1.0", false, kOk + kFailed, {29}, false, "", ""},
      {"option text short",
       Magic() + Counted("1.0.0") + U16(10) + "abc",
       false,
       kOk + kVersionReply + kOk + kFailed,
       {28},
       false,
       "",
       ""},
      {"option text begins with NUL",
       Prefix(std::string("\0copies=2", 9)),
       false,
       kOk + kVersionReply + kOk + kFailed,
       {24},
       false,
       "",
       ""},
      {"option key trims to empty",
       Prefix("copies=2,\n=x"),
       false,
       kOk + kVersionReply + kOk + kFailed,
       {24},
       false,
       "",
       ""},
      // Whole chunks reach the file; the piece that fell short does not.
      {"XML short",
       Prefix() + U32(30000) + big,
       false,
       PrefixReply() + kFailed,
       {26},
       false,
       big.substr(0, 2 * 8196),
       ""},
      {"XSL short",
       Prefix() + CountedFile(big) + U32(100) + "abcde",
       false,
       PrefixReply() + kFailed,
       {27},
       false,
       big,
       ""},
      {"silent client ended by the receive time-out",
       Prefix() + U32(100) + "0123456789",
       true,
       PrefixReply() + kFailed,
       {26},
       false,
       "",
       ""},
      {"empty files are accepted",
       Prefix() + CountedFile("") + CountedFile(""),
       false,
       PrefixReply() + kOk + kOk,
       {},
       true,
       "",
       ""},
      {"empty option text",
       Prefix("") + CountedFile(kXml) + CountedFile(kXsl),
       false,
       PrefixReply() + kOk + kOk,
       {},
       true,
       kXml,
       kXsl},
      {"version with NUL and more",
       Magic() + Counted(std::string("1.0.0\0zz", 8)) + Counted("x") + CountedFile(big) +
           CountedFile(kXsl),
       false,
       PrefixReply() + kOk + kOk,
       {},
       true,
       big,
       kXsl},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::EventLogCapture events;
    unlink(xmlPath_.c_str());
    unlink(xslPath_.c_str());
    Outcome outcome = Exchange(c.send, c.silent);
    EXPECT_EQ(outcome.reply, c.reply);
    EXPECT_EQ(outcome.queued, c.queued);
    EXPECT_EQ(events.Ids(), c.events);
    for (const testsupport::LoggedEvent& event : events.Events()) {
      EXPECT_EQ(event.type, "error");
      if (event.id == 24)
        EXPECT_EQ(event.strings, std::vector<std::string>{"Unknown"});
      else
        EXPECT_TRUE(event.strings.empty());
    }
    // A failed exchange leaves none of its spool files behind.
    EXPECT_EQ(testsupport::FileExists(xmlPath_), c.queued);
    EXPECT_EQ(testsupport::FileExists(xslPath_), c.queued);
    if (c.queued) {
      EXPECT_EQ(testsupport::ReadFile(xmlPath_), c.xml);
      EXPECT_EQ(testsupport::ReadFile(xslPath_), c.xsl);
    }
  }
}

// Pieces are received several at a time; whatever the lengths, a complete
// file arrives byte for byte and a file that falls short is removed.
TEST_F(IntakeExchangeTest, FilesAroundPieceAndBatchBoundaries) {
  const size_t piece = kFileChunkSize;
  const size_t batch = kChunksPerWrite * kFileChunkSize;
  std::string content(3 * batch + 2 * piece + 7, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 131 % 251);
  struct Case {
    size_t declared;
    size_t sent;
    size_t left;  // bytes of the spool file afterwards
  } cases[] = {
      // Complete files.
      {1, 1, 1},
      {piece - 1, piece - 1, piece - 1},
      {piece, piece, piece},
      {piece + 1, piece + 1, piece + 1},
      {batch - 1, batch - 1, batch - 1},
      {batch, batch, batch},
      {batch + 1, batch + 1, batch + 1},
      {content.size(), content.size(), content.size()},
      // Short files: the piece that fell short is dropped, also inside a
      // batch and in the last, shorter piece.
      {piece, piece - 1, 0},
      {2 * piece + 5, 2 * piece + 4, 2 * piece},
      {batch, batch - 1, batch - piece},
      {batch + piece, batch + 1, batch},
      {content.size(), 3 * batch + piece + 100, 3 * batch + piece},
      {content.size(), content.size() - 1, 3 * batch + 2 * piece},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("declared " + std::to_string(c.declared) + ", sent " + std::to_string(c.sent));
    unlink(xmlPath_.c_str());
    unlink(xslPath_.c_str());
    bool complete = c.sent == c.declared;
    std::string send = Prefix() + U32(static_cast<uint32_t>(c.declared)) + content.substr(0, c.sent);
    if (complete) send += CountedFile(kXsl);
    Outcome outcome = Exchange(send);
    EXPECT_EQ(outcome.queued, complete);
    EXPECT_EQ(outcome.reply, PrefixReply() + (complete ? kOk + kOk : kFailed));
    if (complete) {
      EXPECT_EQ(testsupport::ReadFile(xmlPath_), content.substr(0, c.left));
    }
    EXPECT_EQ(testsupport::FileExists(xmlPath_), complete);
  }
}

TEST_F(IntakeExchangeTest, SpoolFilesThatCannotBeCreatedOrOpened) {
  // The XML spool file exists: event 23 with its path, nothing is sent.
  { std::ofstream(xmlPath_) << "old"; }
  Outcome outcome = Exchange("");
  EXPECT_EQ(outcome.reply, "");
  EXPECT_FALSE(outcome.queued);
  ASSERT_EQ(events_.Events().size(), 1u);
  EXPECT_EQ(events_.Events()[0].id, 23);
  EXPECT_EQ(events_.Events()[0].strings, std::vector<std::string>{xmlPath_});
  EXPECT_EQ(testsupport::ReadFile(xmlPath_), "old");

  // The XSL one exists: event 23 with its path, final status 1; the XML
  // spool file the exchange made is removed, the other file is not its own.
  unlink(xmlPath_.c_str());
  { std::ofstream(xslPath_) << "old"; }
  outcome = Exchange("");
  EXPECT_EQ(outcome.reply, kFailed);
  EXPECT_EQ(events_.Events().back().strings, std::vector<std::string>{xslPath_});
  EXPECT_FALSE(testsupport::FileExists(xmlPath_));
  EXPECT_EQ(testsupport::ReadFile(xslPath_), "old");

  // A reservation that is gone cannot be opened; the other reserved name
  // is given up as well.
  unlink(xmlPath_.c_str());
  { std::ofstream(xslPath_, std::ios::trunc); }
  outcome = Exchange("", false, "/opt/kavelo/PrintService/Ostrevo", /*filesReserved=*/true);
  EXPECT_EQ(outcome.reply, "");
  EXPECT_EQ(events_.Ids().back(), 23);
  EXPECT_FALSE(testsupport::FileExists(xslPath_));
}

TEST_F(IntakeExchangeTest, AnAddJobThatRaisesEndsWithoutAFinalStatus) {
  // An empty printer application makes AddJob raise IllegalArgumentException.
  Outcome outcome = Exchange(Prefix() + CountedFile(kXml) + CountedFile(kXsl), false, "");
  EXPECT_EQ(outcome.reply, PrefixReply() + kOk);
  EXPECT_FALSE(outcome.queued);
  ASSERT_EQ(events_.Ids(), std::vector<int>{24});
  EXPECT_EQ(events_.Events()[0].strings, std::vector<std::string>{"Unknown"});
  EXPECT_EQ(queue_.jobs().size(), 0u);
}

// A job the print control would not carry out as asked is refused at the
// hand-over: final status 1, message 5 saying why, nothing queued and no
// spool file left.  The limits themselves are accepted.
TEST_F(IntakeExchangeTest, JobsThePrintControlWouldMisreadAreRefused) {
  const std::string app = "/opt/kavelo/PrintService/Ostrevo";
  struct Case {
    const char* name;
    std::string options;
    std::string application;
    std::string why;  // empty: queued
  } cases[] = {
      {"copies at the limit", "copies=9999", app, ""},
      {"copies above it", "copies=10000", app, "copies 10000, at most 9999"},
      {"copies of years", "copies=2000000000", app, "copies 2000000000, at most 9999"},
      {"printer name of 511", "printer=" + std::string(511, 'p'), app, ""},
      {"printer name of 512", "printer=" + std::string(512, 'p'), app,
       "the printer name has 512 characters, the print control reads at most 511"},
      {"command line over 1023", "printer=" + std::string(500, 'p'), "/opt/" + std::string(500, 'a'),
       "the print control reads at most 1023 characters of its command line"},
      {"command line the queue cannot list", "printer=" + std::string(8200, 'p'), app,
       "the print queue holds at most 8171"},
      {"printer name that shadows the copies", "printer='Pcopy=99'", app,
       "the print control would read copy as 99 instead of 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::EventLogCapture events;
    unlink(xmlPath_.c_str());
    unlink(xslPath_.c_str());
    size_t queuedBefore = queue_.jobs().size();
    Outcome outcome =
        Exchange(Prefix(c.options) + CountedFile(kXml) + CountedFile(kXsl), false, c.application);
    bool queued = c.why.empty();
    EXPECT_EQ(outcome.queued, queued);
    EXPECT_EQ(outcome.reply, PrefixReply() + kOk + (queued ? kOk : kFailed));
    EXPECT_EQ(queue_.jobs().size(), queuedBefore + (queued ? 1 : 0));
    EXPECT_EQ(testsupport::FileExists(xmlPath_), queued);
    EXPECT_EQ(testsupport::FileExists(xslPath_), queued);
    if (queued) {
      EXPECT_TRUE(events.Ids().empty());
      continue;
    }
    std::vector<testsupport::LoggedEvent> logged = events.Events();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].id, 5);
    ASSERT_EQ(logged[0].strings.size(), 1u);
    const std::string& text = logged[0].strings[0];
    EXPECT_EQ(text.rfind("Job refused: ", 0), 0u) << text;
    EXPECT_NE(text.find(c.why), std::string::npos) << text;
  }
}

// Each read waits at most the receive time-out, but a client that sends a
// byte now and then would renew it for ever: the step's overall limit (the
// time-out plus the bytes at the minimum rate) ends it.
TEST_F(IntakeExchangeTest, AClientTricklingADocumentIsCutOffByTheStepLimit) {
  testsupport::LoopbackPair pair;
  testsupport::RawClient client;
  int service = pair.Connect(&client);
  ASSERT_GE(service, 0);
  timeval limit{0, 300 * 1000};
  setsockopt(service, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  IntakeExchange exchange(&channel_, &queue_, "/opt/kavelo/PrintService/Ostrevo", "lp0");
  std::atomic<bool> done{false};
  auto start = std::chrono::steady_clock::now();
  std::thread runner([&] {
    exchange.Run(service, xmlPath_, xslPath_, false);
    done = true;
  });
  ASSERT_TRUE(client.Send(Prefix() + U32(1000)));
  // A byte every 100 ms, well inside each read's 300 ms.
  while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    client.Send("x");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  runner.join();
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(3));
  EXPECT_EQ(events_.Ids(), std::vector<int>{26});
  EXPECT_FALSE(testsupport::FileExists(xmlPath_));
}

}  // namespace
}  // namespace kavelo::service
