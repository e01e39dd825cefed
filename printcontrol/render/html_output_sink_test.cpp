#include "printcontrol/render/html_output_sink.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::ReadFileOrMissing;
using testsupport::TempDir;

TEST(HtmlOutputSinkTest, ConvertsChunkByChunk) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::string file;
  } cases[] = {
      {"CR LF inside a chunk", {"a\r\nb"}, "a\nb"},
      {"CR ends a chunk, LF starts the next", {"a\r", "\nb"}, "a\nb"},
      {"CR chunk, LF-only chunk, text", {"a\r", "\n", "b"}, "a\nb"},
      {"lone CR inside", {"a\rb"}, "a\nb"},
      {"lone CR at the end", {"a\r"}, "a\n"},
      {"CR then a chunk without LF", {"a\r", "b"}, "a\nb"},
      {"CR CR LF", {"\r\r\n"}, "\n\n"},
      {"LF without a CR before stays", {"a", "\nb"}, "a\nb"},
      {"empty chunk between CR and LF forgets the CR", {"a\r", "", "\nb"}, "a\n\nb"},
      {"no-break space", {"x\xC2\xA0y"}, "x&nbsp;y"},
      {"U+0099", {"\xC2\x99"}, "&#153;"},
      {"no-break space at a chunk's end", {"x\xC2\xA0"}, "x&nbsp;"},
      {"no-break space split across chunks", {"x\xC2", "\xA0y"}, "x\xC2\xA0y"},
      {"other two-byte sequences stay", {"\xC3\xA9\xC2\xA9"}, "\xC3\xA9\xC2\xA9"},
      {"C2 before CR", {"\xC2\r\n"}, "\xC2\n"},
      {"single byte", {"z"}, "z"},
  };
  for (const Case& c : cases) {
    TempDir folder;
    std::string path = folder.File("out.html");
    HtmlOutputSink::Context sink;
    sink.file = fopen(path.c_str(), "w");
    ASSERT_NE(sink.file, nullptr);
    for (size_t i = 0; i < c.chunks.size(); ++i) {
      const std::string& chunk = c.chunks[i];
      EXPECT_EQ(HtmlOutputSink::Write(chunk.data(), chunk.size(), &sink), chunk.size())
          << c.name << ", chunk " << i;
    }
    HtmlOutputSink::Flush(&sink);
    EXPECT_EQ(ReadFileOrMissing(path), c.file) << c.name;  // visible after the flush
    fclose(sink.file);
  }
}

TEST(HtmlOutputSinkTest, ShortWriteReportsLess) {
  // /dev/full takes no byte: every chunk must report less than its length,
  // so the processor stops.
  struct Case {
    std::string chunk;
  } cases[] = {{"plain text"}, {"\xC2\xA0"}, {"a\r\n"}, {"x"}};
  for (const Case& c : cases) {
    HtmlOutputSink::Context sink;
    sink.file = fopen("/dev/full", "w");
    ASSERT_NE(sink.file, nullptr);
    setvbuf(sink.file, nullptr, _IONBF, 0);
    EXPECT_LT(HtmlOutputSink::Write(c.chunk.data(), c.chunk.size(), &sink), c.chunk.size())
        << c.chunk;
    fclose(sink.file);
  }
}

TEST(HtmlOutputSinkTest, LargeChunkIsConvertedWhole) {
  TempDir folder;
  std::string path = folder.File("out.html");
  std::string chunk;
  for (int i = 0; i < 5000; ++i) chunk += "\xC2\xA0";
  HtmlOutputSink::Context sink;
  sink.file = fopen(path.c_str(), "w");
  ASSERT_NE(sink.file, nullptr);
  EXPECT_EQ(HtmlOutputSink::Write(chunk.data(), chunk.size(), &sink), chunk.size());
  fclose(sink.file);
  std::string expected;
  for (int i = 0; i < 5000; ++i) expected += "&nbsp;";
  EXPECT_EQ(ReadFileOrMissing(path), expected);
}

}  // namespace
}  // namespace kavelo::printcontrol
