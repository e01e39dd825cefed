#include "service/host/control_socket.h"

#include <gtest/gtest.h>
#include <pwd.h>

namespace kavelo::service {
namespace {

TEST(ControlSocketTest, OnlyRootTheAccountAndItsGroupMayControlJobs) {
  const passwd* daemon = getpwnam("daemon");
  ASSERT_NE(daemon, nullptr);
  constexpr uid_t kService = 54321;
  constexpr gid_t kGroup = 54322;
  struct Row {
    const char* who;
    uid_t uid;
    gid_t gid;
    bool allowed;
  };
  const Row rows[] = {
      {"root", 0, 0, true},
      {"the service's account", kService, 1, true},
      {"its group as primary group", daemon->pw_uid, kGroup, true},
      {"another user", daemon->pw_uid, daemon->pw_gid, false},
      {"an unknown user", 54999, 54999, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MayControlJobs(row.uid, row.gid, kService, kGroup), row.allowed) << row.who;
  }
}

}  // namespace
}  // namespace kavelo::service
