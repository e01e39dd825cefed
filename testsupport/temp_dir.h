// A fresh folder below /tmp for the life of a test.
#ifndef KAVELO_TESTSUPPORT_TEMP_DIR_H_
#define KAVELO_TESTSUPPORT_TEMP_DIR_H_

#include <string>
#include <vector>

namespace kavelo::testsupport {

// Makes /tmp/<prefix>.XXXXXX (throws std::runtime_error when it cannot) and
// removes it with everything in it on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "kavelo-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;
  // The names of the entries in the folder, sorted.
  std::vector<std::string> Files() const;
  // The same names joined by single spaces.
  std::string Listing() const;

 private:
  std::string path_;
};

// The names of the entries in folder, sorted; none when it cannot be read.
std::vector<std::string> ListFolder(const std::string& folder);

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_TEMP_DIR_H_
