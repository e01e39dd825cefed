// File helpers for the document tests: a private temporary folder, removed
// with everything in it when the test ends.
#ifndef KAVELO_PRINTCONTROL_TEST_RENDERING_FILES_H_
#define KAVELO_PRINTCONTROL_TEST_RENDERING_FILES_H_

#include <string>

namespace kavelo::printcontrol {
namespace testing_files {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;
  // Names of the files in the folder, sorted.
  std::string Listing() const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& content);
// The whole file; "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace testing_files
}  // namespace kavelo::printcontrol

#endif  // KAVELO_PRINTCONTROL_TEST_RENDERING_FILES_H_
