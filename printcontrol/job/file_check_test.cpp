#include "printcontrol/job/file_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

enum class Hold { kWrite, kRead, kLock };

// A child process that opens path as told and keeps it open until Release.
class Holder {
 public:
  Holder(const std::string& path, Hold hold) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      int flags = hold == Hold::kWrite ? O_WRONLY : O_RDONLY;
      int fd = open(path.c_str(), flags);
      if (fd >= 0 && hold == Hold::kLock) flock(fd, LOCK_EX);
      char c = fd >= 0 ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) _exit(1);
      if (read(release[0], &c, 1) < 0) _exit(1);  // returns at Release
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char c = 'n';
    ok_ = read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
  }
  ~Holder() { Release(); }
  bool ok() const { return ok_; }
  void Release() {
    if (release_ >= 0) close(release_);
    release_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool ok_ = false;
};

class FileCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_ + "/00000001.xsl";
    FILE* f = std::fopen(file_.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fputs("<xsl/>", f);
    std::fclose(f);
  }

  testsupport::TempDir temp_{"file_check_test"};
  const std::string dir_ = temp_.path();
  std::string file_;
};

TEST_F(FileCheckTest, AFileNoOneUsesPassesWithItsSize) {
  int64_t size = -1;
  char message[1024] = "junk";
  EXPECT_EQ(0, CheckInputFile(file_.c_str(), &size, message, sizeof(message)));
  EXPECT_EQ(6, size);
  EXPECT_STREQ("", message);
  std::string empty = dir_ + "/empty";
  std::fclose(std::fopen(empty.c_str(), "wb"));
  EXPECT_EQ(0, CheckInputFile(empty.c_str(), &size, message, sizeof(message)));
  EXPECT_EQ(0, size);
}

TEST_F(FileCheckTest, FilesThatCannotBeUsedFailWithTheOpenMessage) {
  struct Case {
    std::string path;
  } cases[] = {{dir_ + "/missing.xml"}, {dir_}, {""}};
  for (const Case& c : cases) {
    int64_t size = -1;
    char message[1024] = "";
    EXPECT_EQ(-1, CheckInputFile(c.path.c_str(), &size, message, sizeof(message))) << c.path;
    EXPECT_EQ("Error:CreateFile(read), " + c.path, message);
  }
}

TEST_F(FileCheckTest, AFileHeldByAnotherProcess) {
  struct Case {
    Hold hold;
    bool passes;
  } cases[] = {{Hold::kWrite, false}, {Hold::kLock, false}, {Hold::kRead, true}};
  for (const Case& c : cases) {
    Holder holder(file_, c.hold);
    ASSERT_TRUE(holder.ok());
    char message[1024] = "";
    int result = CheckInputFile(file_.c_str(), nullptr, message, sizeof(message));
    EXPECT_EQ(c.passes ? 0 : -1, result) << static_cast<int>(c.hold);
    if (!c.passes) {
      EXPECT_EQ("Error:CreateFile(read), " + file_, message);
    }
    holder.Release();
    // Once the other process has let go, the file passes.
    EXPECT_EQ(0, CheckInputFile(file_.c_str(), nullptr, message, sizeof(message)));
  }
}

TEST_F(FileCheckTest, OwnWriterDoesNotCount) {
  FILE* own = std::fopen(file_.c_str(), "ab");
  ASSERT_NE(nullptr, own);
  EXPECT_EQ(0, CheckInputFile(file_.c_str(), nullptr, nullptr, 0));
  std::fclose(own);
}

TEST_F(FileCheckTest, MessageIsCutToItsBuffer) {
  std::string longPath = dir_ + "/" + std::string(200, 'm');
  char message[32];
  EXPECT_EQ(-1, CheckInputFile(longPath.c_str(), nullptr, message, sizeof(message)));
  EXPECT_EQ(31u, std::string(message).size());
}

}  // namespace
}  // namespace kavelo::printcontrol
