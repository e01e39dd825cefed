#include "printcontrol/render/byte_reader.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kavelo::printcontrol {
namespace {

class ByteReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/byte_reader_test.XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = pattern;
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void Write(const std::string& content) {
    FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }

  std::string ReadAll(ByteReader* reader) {
    std::string out;
    for (int b = reader->NextByte(); b != ByteReader::kEnd; b = reader->NextByte()) {
      out += static_cast<char>(b);
    }
    return out;
  }

  std::string path_;
};

TEST_F(ByteReaderTest, ReadsContentAcrossBufferRefills) {
  struct Case {
    const char* name;
    size_t size;
  } cases[] = {{"empty", 0},     {"one", 1},         {"buffer-1", 1023},
               {"buffer", 1024}, {"buffer+1", 1025}, {"several", 5000}};
  for (const Case& c : cases) {
    std::string content;
    for (size_t i = 0; i < c.size; ++i) content += static_cast<char>('a' + i % 26);
    Write(content);
    ByteReader reader;
    ASSERT_EQ(0, reader.Open(path_.c_str())) << c.name;
    EXPECT_EQ(content, ReadAll(&reader)) << c.name;
    EXPECT_EQ(ByteReader::kEnd, reader.NextByte()) << c.name << ": end stays the end";
    EXPECT_EQ(ByteReader::kEnd, reader.LastByte()) << c.name;
  }
}

TEST_F(ByteReaderTest, KeepsLineEndsAndHighBytesBelow255) {
  Write(std::string("a\r\nb\x80\xfe", 6));
  ByteReader reader;
  ASSERT_EQ(0, reader.Open(path_.c_str()));
  EXPECT_EQ(std::string("a\r\nb\x80\xfe", 6), ReadAll(&reader));
}

TEST_F(ByteReaderTest, NextTellsTheEndAByteOf255AndAReadErrorApart) {
  struct Case {
    const char* name;
    std::string path;  // empty: the test file with the content
    std::string content;
    std::vector<int> next;  // what Next returns, in order
    std::string bytes;      // what NextByte gives up to its kEnd
  } cases[] = {
      {"empty", "", "", {ByteReader::kEndOfFile, ByteReader::kEndOfFile}, ""},
      // NextByte keeps its contract: 255 reads as the end.
      {"0xFF is data",
       "",
       std::string("ab") + '\xff' + "c",
       {'a', 'b', 0xFF, 'c', ByteReader::kEndOfFile},
       "ab"},
      // A folder opens, but reading it fails, and keeps failing.
      {"read error", "/", "", {ByteReader::kReadFailed, ByteReader::kReadFailed}, ""},
  };
  for (const Case& c : cases) {
    Write(c.content);
    const std::string path = c.path.empty() ? path_ : c.path;
    ByteReader reader;
    ASSERT_EQ(0, reader.Open(path.c_str())) << c.name;
    std::vector<int> got;
    for (size_t i = 0; i < c.next.size(); ++i) got.push_back(reader.Next());
    EXPECT_EQ(c.next, got) << c.name;
    ASSERT_EQ(0, reader.Open(path.c_str())) << c.name;
    EXPECT_EQ(c.bytes, ReadAll(&reader)) << c.name;
  }
}

TEST_F(ByteReaderTest, OpenFailuresAndClose) {
  ByteReader reader;
  EXPECT_EQ(ByteReader::kEnd, reader.NextByte()) << "not open";
  EXPECT_EQ(-1, reader.Open("/nonexistent/dir/file"));
  EXPECT_EQ(-1, reader.Open(""));
  EXPECT_EQ(-1, reader.Open(nullptr));
  EXPECT_FALSE(reader.IsOpen());
  Write("xyz");
  ASSERT_EQ(0, reader.Open(path_.c_str()));
  EXPECT_EQ('x', reader.NextByte());
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_EQ(ByteReader::kEnd, reader.NextByte());
  // Reopening starts again at the beginning, with no bytes left from before.
  ASSERT_EQ(0, reader.Open(path_.c_str()));
  EXPECT_EQ("xyz", ReadAll(&reader));
}

}  // namespace
}  // namespace kavelo::printcontrol
