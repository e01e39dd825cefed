#include "service/host/event_log_channel.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "service/host/service_messages.h"
#include "testsupport/event_log_capture.h"
#include "testsupport/files.h"

namespace kavelo::service {
namespace {

using testsupport::ReadLines;

class EventLogChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallServiceMessageTable(); }
  testsupport::EventLogCapture log_{"kavelo-channel"};
  const std::string logPath_ = log_.path();
};

TEST(ServiceMessagesTest, TableHoldsIdsInOrderEachEndingInCrLf) {
  ASSERT_EQ(kServiceMessageCount, 40u);
  for (size_t i = 0; i < kServiceMessageCount; ++i) {
    EXPECT_EQ(kServiceMessages[i].id, i + 1);
    std::string text = kServiceMessages[i].text;
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "id " << i + 1;
    EXPECT_EQ(text.find_first_of("\r\n"), text.size() - 2) << "id " << i + 1;
  }
}

TEST_F(EventLogChannelTest, JobsRequeuedReportAppearsInTheEventLog) {
  EventLogChannel channel;
  ASSERT_TRUE(channel.Register(kServiceEventSource));
  ASSERT_TRUE(channel.Report(platform::EventType::kInformation, kMsgJobsRequeued, "3"));
  std::vector<std::string> lines = ReadLines(logPath_);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      lines[0],
      std::regex(R"(\{"time":"[0-9T:.-]+Z","source":"Brelvane","type":"information","id":18,)"
                 R"("strings":\["3"\],"message":"The Brelvane print thread has re-started with )"
                 R"(\(3\) jobs re-queued for printing\."\})")))
      << lines[0];
}

TEST_F(EventLogChannelTest, MessagesReadAsTheServiceReportsThem) {
  struct Case {
    uint32_t id;
    const char* text;
    std::string expected;
  };
  const Case cases[] = {
      {kMsgServiceStarted, nullptr, "The service was started."},
      {kMsgExceptionCaught, "Unknown", "Exception caught: Unknown"},
      {kMsgPrinterMissing, "Lab Printer",
       "The printer (Lab Printer) does not exist or insuffient access privileges. Cannot "
       "continue."},
      {kMsgAcceptFailed, "22",
       "The Brelvane listener thread call to 'accept' failed with an error code (22)."},
      {kMsgBadAccount, nullptr,
       "This service cannot run with the 'LocalSystem' account or an account that does not "
       "belong to the 'Administrator' group. Cannot continue."},
      {kMsgFinalResponseFailed, nullptr,
       "The Brelvane listener thread socket failed to send a final response to the "
       "connection."},
  };
  for (const Case& c : cases) {
    std::vector<std::string> strings;
    if (c.text) strings.push_back(c.text);
    EXPECT_EQ(platform::FormatEventMessage(c.id, strings), c.expected);
  }
}

TEST_F(EventLogChannelTest, RegisterRejectsNullAndEmptyNames) {
  EventLogChannel channel;
  EXPECT_THROW(channel.Register(nullptr), NullPointerException);
  EXPECT_THROW(channel.Register(""), IllegalArgumentException);
  EXPECT_FALSE(channel.IsRegistered());
}

TEST_F(EventLogChannelTest, UnregisteredChannelDropsReports) {
  EventLogChannel never;
  EXPECT_FALSE(never.Report(platform::EventType::kError, kMsgBadMagic));

  EventLogChannel released;
  ASSERT_TRUE(released.Register(kServiceEventSource));
  released.Deregister();
  EXPECT_FALSE(released.IsRegistered());
  EXPECT_FALSE(released.Report(platform::EventType::kError, kMsgBadMagic));

  EXPECT_NE(access(logPath_.c_str(), F_OK), 0) << "a dropped report was written";
}

TEST_F(EventLogChannelTest, InsertionTextsEndAtTheFirstNull) {
  EventLogChannel channel;
  ASSERT_TRUE(channel.Register(kServiceEventSource));
  ASSERT_TRUE(channel.Report(platform::EventType::kError, kMsgDebug, nullptr, "skipped"));
  ASSERT_TRUE(channel.Report(platform::EventType::kError, kMsgDebug, "a", "b", "c"));
  std::vector<std::string> lines = ReadLines(logPath_);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(R"("strings":[],"message":"Debug: %1")"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(R"("strings":["a","b","c"],"message":"Debug: a")"), std::string::npos)
      << lines[1];
}

}  // namespace
}  // namespace kavelo::service
