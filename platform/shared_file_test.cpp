#include "platform/shared_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/scm.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"
#include "testsupport/temp_registry.h"

namespace kavelo::platform {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// The event file, a new hive and the service database's lock are read-write for owner and group, whatever
// umask the program that made them ran with; a file that exists keeps its mode.
TEST(SharedFileTest, EventFileAndHivesAreGroupWritableWhateverTheUmask) {
  for (mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}}) {
    testsupport::TempRegistry registry;
    std::string events = registry.dir() + "/events.jsonl";
    std::string kept = registry.dir() + "/kept.jsonl";
    close(open(kept.c_str(), O_WRONLY | O_CREAT, 0600));
    chmod(kept.c_str(), 0600);
    mode_t old = umask(mask);
    testsupport::ScopedEnv eventLog("KAVELO_EVENTLOG", events);
    auto source = RegisterEventSource("", "Brelvane");
    EXPECT_TRUE(ReportEvent(source.get(), EventType::kInformation, 0, 1, {}));
    RegKey key;
    EXPECT_EQ(RegCreateKey(Hive::kLocalMachine, "SOFTWARE\\KAVELO", KEY_ALL_ACCESS, &key), 0);
    EXPECT_EQ(RegSetValue(key, "DirPath", REG_SZ, "x", 2), 0);
    ScManager manager;
    EXPECT_EQ(OpenSCManager(kScManagerAllAccess, &manager), kScmOk);
    {
      ScLock lock;
      EXPECT_EQ(LockServiceDatabase(manager, &lock), kScmOk);
    }
    int fd = OpenSharedFile(kept.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    EXPECT_TRUE(CreateSharedFile(kept.c_str()));
    umask(old);
    EXPECT_EQ(ModeOf(events), kSharedFileMode) << "umask " << mask;
    EXPECT_EQ(ModeOf(registry.MachineHive()), kSharedFileMode) << "umask " << mask;
    EXPECT_EQ(ModeOf(registry.dir() + "/ServicesActive.lock"), kSharedFileMode) << "umask " << mask;
    std::string wal = registry.MachineHive() + "-wal";
    if (access(wal.c_str(), F_OK) == 0) {
      EXPECT_EQ(ModeOf(wal), kSharedFileMode) << "umask " << mask;
    }
    EXPECT_EQ(ModeOf(kept), 0600u) << "umask " << mask;
    for (const std::string& name : testsupport::ListFolder(registry.dir())) {
      EXPECT_EQ(name.find(".new."), std::string::npos) << name;
    }
  }
}

}  // namespace
}  // namespace kavelo::platform
