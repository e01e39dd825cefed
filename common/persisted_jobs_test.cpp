#include <cstdio>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "common/exceptions.h"
#include "common/registry_access.h"
#include "common/service_parameters.h"
#include "testsupport/files.h"
#include "testsupport/temp_registry.h"

namespace kavelo {
namespace {

using testsupport::Sz;
using testsupport::WriteRaw;

const char kQueue[] = "SYSTEM\\CurrentControlSet\\Services\\Brelvane\\PrintQueue";

class PersistedJobsTest : public ::testing::Test {
 protected:
  PersistedJobsTest() { queue_.Bind("Brelvane", platform::Hive::kLocalMachine); }

  std::vector<std::string> Texts() {
    std::vector<std::string> names, texts;
    ServiceParameters fresh;
    fresh.Bind("Brelvane", platform::Hive::kLocalMachine);
    EXPECT_EQ(fresh.ListPersistedJobs(&names, &texts), 1);
    EXPECT_EQ(names.size(), texts.size());
    return texts;
  }

  testsupport::TempRegistry registry_;
  ServiceParameters queue_;
};

TEST_F(PersistedJobsTest, JobsAreGuidNamedTextsInAddOrder) {
  EXPECT_TRUE(Texts().empty());
  const char* jobs[] = {"\"/a/Ostrevo\" \"/a/Ostrevo\" xml=1.xml;xsl=1.xsl", "job two", "job 3"};
  for (const char* job : jobs) EXPECT_EQ(queue_.PersistJob(job), platform::kErrorSuccess);

  std::vector<std::string> names, texts;
  queue_.ListPersistedJobs(&names, &texts);
  ASSERT_EQ(texts, (std::vector<std::string>(std::begin(jobs), std::end(jobs))));
  const std::regex guid(
      "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  for (const std::string& name : names) EXPECT_TRUE(std::regex_match(name, guid)) << name;
  EXPECT_NE(names[0], names[1]);

  // Stored as REG_SZ with one terminating NUL.
  platform::RegKey key;
  ASSERT_EQ(platform::RegOpenKey(platform::Hive::kLocalMachine, kQueue, platform::KEY_READ, &key),
            platform::kErrorSuccess);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_EQ(platform::RegQueryValue(key, names[1], &type, &data), platform::kErrorSuccess);
  EXPECT_EQ(type, platform::REG_SZ);
  EXPECT_EQ(std::string(data.begin(), data.end()), Sz("job two"));
}

TEST_F(PersistedJobsTest, RemoveDeletesTheFirstMatchIgnoringCase) {
  ASSERT_EQ(WriteRaw({{kQueue, "{expand}", platform::REG_EXPAND_SZ, Sz("JOB")},
                      {kQueue, "{empty}", platform::REG_SZ, Sz("")}}),
            platform::kErrorSuccess);
  for (const char* job : {"Job", "other", "JOB", "job"}) queue_.PersistJob(job);

  struct Step {
    const char* remove;
    std::vector<std::string> left;
  } steps[] = {
      {"job", {"other", "JOB", "job"}},
      {"nothing like it", {"other", "JOB", "job"}},
      {"JOB", {"other", "job"}},
      {"Job", {"other"}},
      {"job", {"other"}},  // only the REG_EXPAND_SZ value matches now; it is not a job
      {"OTHER", {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.remove);
    EXPECT_EQ(queue_.RemovePersistedJob(step.remove), 1);
    EXPECT_EQ(Texts(), step.left);
  }
  // Values that are not jobs stay.
  RegistryAccess access(platform::Hive::kLocalMachine, "SYSTEM");
  EXPECT_EQ(access.ReadString("CurrentControlSet\\Services\\Brelvane\\PrintQueue", "{expand}", ""),
            "JOB");
  platform::RegKey key;
  ASSERT_EQ(platform::RegOpenKey(platform::Hive::kLocalMachine, kQueue, platform::KEY_READ, &key),
            platform::kErrorSuccess);
  EXPECT_EQ(platform::RegQueryValue(key, "{empty}", nullptr, nullptr), platform::kErrorSuccess);
}

TEST_F(PersistedJobsTest, TextArgumentsAreChecked) {
  EXPECT_THROW(queue_.PersistJob(static_cast<const char*>(nullptr)), NullPointerException);
  EXPECT_THROW(queue_.PersistJob(""), IllegalArgumentException);
  EXPECT_THROW(queue_.RemovePersistedJob(static_cast<const char*>(nullptr)), NullPointerException);
  EXPECT_THROW(queue_.RemovePersistedJob(std::string()), IllegalArgumentException);
  EXPECT_TRUE(Texts().empty());
}

TEST_F(PersistedJobsTest, ThreadsPersistingAtOnceLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kJobsEach = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kJobsEach; ++i) {
        ServiceParameters own;
        own.Bind("Brelvane", platform::Hive::kLocalMachine);
        long persisted = own.PersistJob("job " + std::to_string(t) + "." + std::to_string(i));
        EXPECT_EQ(persisted, platform::kErrorSuccess) << "job " << t << "." << i;
        if (i % 3 == 2)
          own.RemovePersistedJob("job " + std::to_string(t) + "." + std::to_string(i));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::string> texts = Texts();
  EXPECT_EQ(texts.size(), static_cast<size_t>(kThreads * (kJobsEach - kJobsEach / 3)));
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
}

// A queue that cannot be read may still hold the job: the removal says so
// instead of reporting success.
TEST_F(PersistedJobsTest, RemovalFromAnUnreadableQueueSaysItFailed) {
  EXPECT_EQ(queue_.RemovePersistedJob("no queue yet"), 1);
  ASSERT_EQ(queue_.PersistJob("job"), platform::kErrorSuccess);
  EXPECT_EQ(queue_.RemovePersistedJob("another job"), 1);
  // The hive and its log are replaced by a file that is no database.
  const std::string hive = platform::RegistryHiveFile(platform::Hive::kLocalMachine);
  testsupport::WriteFile(hive + ".bad", std::string(4096, 'x'));
  ASSERT_EQ(std::rename((hive + ".bad").c_str(), hive.c_str()), 0);
  std::remove((hive + "-wal").c_str());
  std::remove((hive + "-shm").c_str());
  EXPECT_EQ(queue_.RemovePersistedJob("job"), 0);
}

}  // namespace
}  // namespace kavelo
