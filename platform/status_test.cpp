#include "platform/status.h"

#include <cerrno>

#include <gtest/gtest.h>

namespace kavelo::platform {
namespace {

TEST(StatusTest, ErrnoMeaningNotAllowedIsAccessDeniedAnyOtherTheCallersChoice) {
  struct Case {
    int error;
    long status;
  } cases[] = {{EACCES, kErrorAccessDenied}, {EPERM, kErrorAccessDenied},
               {EROFS, kErrorAccessDenied},  {ENOENT, kErrorGenFailure},
               {ENOSPC, kErrorGenFailure},   {0, kErrorGenFailure}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, StatusFromErrno(c.error, kErrorGenFailure)) << c.error;
  }
  EXPECT_EQ(ENOTDIR, StatusFromErrno(ENOTDIR, ENOTDIR));
}

}  // namespace
}  // namespace kavelo::platform
