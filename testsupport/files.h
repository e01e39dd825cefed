// Whole-file reading and writing for tests.
#ifndef KAVELO_TESTSUPPORT_FILES_H_
#define KAVELO_TESTSUPPORT_FILES_H_

#include <string>
#include <vector>

namespace kavelo::testsupport {

// The whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// The whole file as bytes; "<missing>" when it cannot be read, so that an
// expected empty file is told apart from none.
std::string ReadFileOrMissing(const std::string& path);
// The file's lines without their "\n"; none when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);
// Replaces the file with content; throws std::runtime_error when it cannot.
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

}  // namespace kavelo::testsupport

#endif  // KAVELO_TESTSUPPORT_FILES_H_
