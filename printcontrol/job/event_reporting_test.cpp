#include "printcontrol/job/event_reporting.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "printcontrol/test/job_files.h"

namespace kavelo::printcontrol {
namespace {

TEST(EventReportingTest, OneErrorEventPerMessageAndNoneForEmptyTexts) {
  testsupport::JobWorld world;
  InstallOstrevoMessageTable();
  struct Case {
    const char* source;
    std::string message;
    std::vector<std::string> strings;  // insertion strings of the events written
  } cases[] = {
      {"ostrevo", "Can't find printer.", {"Ostrevo: Can't find printer."}},
      {"ostrevo", "", {}},
      {"", "Can't find printer.", {}},
      {nullptr, "x", {}},
      // The event text holds at most 1023 characters.
      {"ostrevo", std::string(2000, 'm'), {"Ostrevo: " + std::string(1023 - 9, 'm')}},
  };
  for (const Case& c : cases) {
    std::remove(world.eventLog().c_str());
    ReportToEventLog(c.source, c.message.c_str());
    EXPECT_EQ(c.strings, world.EventsOf("ostrevo")) << c.message.substr(0, 20);
    for (const std::string& line : world.EventLines()) {
      EXPECT_NE(std::string::npos, line.find("\"type\":\"error\",\"id\":1,")) << line;
      EXPECT_NE(std::string::npos, line.find("\"message\":\"Ostrevo: Ostrevo: ")) << line;
    }
  }
  std::remove(world.eventLog().c_str());
  ReportToEventLog("ostrevo", nullptr);
  EXPECT_TRUE(world.EventLines().empty());
}

}  // namespace
}  // namespace kavelo::printcontrol
