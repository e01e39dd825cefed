#include "printcontrol/render/separate_xml_file.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "printcontrol/render/string_list.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::ReadFileOrMissing;
using testsupport::TempDir;
using testsupport::WriteFile;

// The prologue ends with "</report_info>"; the line end after it belongs to
// the first chunk only.
const std::string kPrologue =
    "<?xml version=\"1.0\"?>\n<report>\n<report_info><title>T</title></report_info>";

// A report of `pages` pages, page n holding "<detail>pN</detail>" and the
// pages separated by `pageBreak`.
std::string Report(int pages, const std::string& pageBreak = "<page/>") {
  std::string report = kPrologue + "\n";
  for (int p = 1; p <= pages; ++p) {
    if (p > 1) report += pageBreak + "\n";
    report += "<detail>p" + std::to_string(p) + "</detail>\n";
  }
  return report + "</report>";
}

struct Split {
  std::string error;
  std::vector<std::string> names;     // file names of the listed chunks
  std::vector<std::string> contents;  // their contents
};

Split RunSplit(const TempDir& folder, const std::string& path, int factor, int pageCount) {
  StringList list("string2");
  list.Push("stale entry");
  char error[1024] = "stale";
  SeparateXmlFile(path.c_str(), factor, pageCount, &list, error);
  Split split;
  split.error = error;
  for (int i = 0; i < list.Count(); ++i) {
    std::string item = list.Item(i);
    split.names.push_back(
        item.rfind(folder.path() + "/", 0) == 0 ? item.substr(folder.path().size() + 1) : item);
    split.contents.push_back(ReadFileOrMissing(item));
  }
  return split;
}

TEST(SeparateXmlFileTest, CutsAtPageBreaks) {
  struct Case {
    const char* name;
    std::string report;
    int factor;
    int pageCount;
    std::vector<std::string> chunks;
  } cases[] = {
      {"10 pages, factor 5: 3 pages a chunk",
       Report(10),
       5,
       10,
       {kPrologue + "\n<detail>p1</detail>\n<page/>\n<detail>p2</detail>\n<page/>\n"
                    "<detail>p3</detail>\n</report>",
        kPrologue + "\n<detail>p4</detail>\n<page/>\n<detail>p5</detail>\n<page/>\n"
                    "<detail>p6</detail>\n</report>",
        kPrologue + "\n<detail>p7</detail>\n<page/>\n<detail>p8</detail>\n<page/>\n"
                    "<detail>p9</detail>\n</report>",
        kPrologue + "\n<detail>p10</detail>\n</report>"}},
      {"fewer breaks than a chunk holds",
       Report(3, "<soft_page/>"),
       1,
       5,
       {Report(3, "<soft_page/>")}},
      // Page count 1, factor 5: 1 / 5 + 1 = one page a chunk.
      {"breaks in capitals count",
       Report(3, "<PAGE/>"),
       5,
       1,
       {kPrologue + "\n<detail>p1</detail>\n</report>",
        kPrologue + "\n<detail>p2</detail>\n</report>",
        kPrologue + "\n<detail>p3</detail>\n</report>"}},
      {"soft page breaks count",
       Report(2, "<Soft_Page/>"),
       5,
       1,
       {kPrologue + "\n<detail>p1</detail>\n</report>",
        kPrologue + "\n<detail>p2</detail>\n</report>"}},
      {"a blank before the slash is no break",
       Report(3, "<page />"),
       5,
       1,
       {Report(3, "<page />")}},
      {"a start and end tag is no break",
       Report(2, "<page></page>"),
       5,
       1,
       {Report(2, "<page></page>")}},
      {"boundary right before the end",
       kPrologue + "<detail>p1</detail><page/></report>\n",
       5,
       1,
       {kPrologue + "<detail>p1</detail></report>", kPrologue + "</report>"}},
      {"everything after the end is ignored", Report(1) + "\n<junk/>", 5, 1, {Report(1)}},
      // 0xFF is a Latin-1 letter (y with diaeresis), not the end of the file.
      {"Latin-1 0xFF in the header and the pages",
       "<report><report_info>\xff</report_info><detail>\xff</detail><page/><detail>b\xff</detail>"
       "</report>",
       5,
       1,
       {"<report><report_info>\xff</report_info><detail>\xff</detail></report>",
        "<report><report_info>\xff</report_info><detail>b\xff</detail></report>"}},
      {"report_info in capitals",
       "<report><REPORT_INFO>x</REPORT_INFO><detail>a</detail><page/><detail>b</detail></report>",
       5,
       1,
       {"<report><REPORT_INFO>x</REPORT_INFO><detail>a</detail></report>",
        "<report><REPORT_INFO>x</REPORT_INFO><detail>b</detail></report>"}},
  };
  for (const Case& c : cases) {
    TempDir folder;
    WriteFile(folder.File("r.xml"), c.report);
    Split split = RunSplit(folder, folder.File("r.xml"), c.factor, c.pageCount);
    EXPECT_EQ(split.error, "") << c.name;
    EXPECT_EQ(split.contents, c.chunks) << c.name;
    ASSERT_EQ(split.names.size(), c.chunks.size()) << c.name;
    for (size_t i = 0; i < split.names.size(); ++i) {
      EXPECT_EQ(split.names[i], "r" + std::to_string(i) + ".xml") << c.name;
    }
    EXPECT_EQ(ReadFileOrMissing(folder.File("r.xml")), c.report)
        << c.name;  // the report is unchanged
  }
}

TEST(SeparateXmlFileTest, ChunkNames) {
  struct Case {
    const char* file;
    const char* first_chunk;
  } cases[] = {
      {"r.xml", "r0.xml"},
      {"R.XML", "R0.xml"},
      {"report", "report0.xml"},
      {"a.xsl", "a.xsl0.xml"},
  };
  for (const Case& c : cases) {
    TempDir folder;
    WriteFile(folder.File(c.file), Report(2));
    Split split = RunSplit(folder, folder.File(c.file), 5, 1);
    ASSERT_EQ(split.names.size(), 2u) << c.file;
    EXPECT_EQ(split.names[0], c.first_chunk) << c.file;
  }
}

TEST(SeparateXmlFileTest, FailuresLeaveNoChunk) {
  TempDir folder;
  std::string path = folder.File("r.xml");
  const std::string padding(5200, ' ');
  struct Case {
    const char* name;
    std::string report;  // empty: no file
    int pageCount;
    std::string error;
  } cases[] = {
      {"page count 0", Report(2), 0, "invalid page count."},
      {"no file", "", 1, "Can't find <report_info>, report:" + path},
      {"report_info after byte 5121",
       "<report>" + padding + "<report_info/></report_info></report>", 1,
       "Can't find <report_info>, report:" + path},
      {"report_info after the first detail",
       "<report><detail>x</detail><report_info/></report_info></report>", 1,
       "Can't find <report_info>, report:" + path},
      {"report_info after the first page_header",
       "<report><page_header>x</page_header><report_info/></report_info></report>", 1,
       "Can't find <report_info>, report:" + path},
      {"no end of report", kPrologue + "<detail>a</detail><page/><detail>b</detail><page/>", 1,
       "Can't find </report> in xml file. Method(SeparateXmlFile)"},
  };
  for (const Case& c : cases) {
    remove(path.c_str());
    if (!c.report.empty()) WriteFile(path, c.report);
    Split split = RunSplit(folder, path, 1, c.pageCount);
    EXPECT_EQ(split.error, c.error) << c.name;
    EXPECT_TRUE(split.names.empty()) << c.name;
    EXPECT_EQ(folder.Listing(), c.report.empty() ? "" : "r.xml") << c.name;
  }

  Split empty = RunSplit(folder, "", 1, 1);
  EXPECT_EQ(empty.error, "Can't find xml file.");
}

TEST(SeparateXmlFileTest, PrologueEndingAtTheLimit) {
  // "</report_info>" whose last byte is byte 5121 still counts; one byte
  // later it does not.
  for (size_t end : {5121u, 5122u}) {
    TempDir folder;
    std::string head = "<report><report_info>";
    std::string tail = "</report_info>";
    std::string report = head + std::string(end - head.size() - tail.size(), 'x') + tail +
                         "<detail>a</detail><page/><detail>b</detail></report>";
    WriteFile(folder.File("r.xml"), report);
    Split split = RunSplit(folder, folder.File("r.xml"), 5, 1);
    EXPECT_EQ(split.error.empty(), end == 5121u) << end << ": " << split.error;
  }
}

TEST(SeparateXmlFileTest, LaterChunkThatCannotBeMadeRemovesTheEarlierOnes) {
  TempDir folder;
  WriteFile(folder.File("r.xml"), Report(3));
  // "r1.xml" is a folder with a file inside: it can be neither removed nor
  // created as a file.
  ASSERT_EQ(mkdir(folder.File("r1.xml").c_str(), 0700), 0);
  WriteFile(folder.File("r1.xml/keep"), "x");
  Split split = RunSplit(folder, folder.File("r.xml"), 5, 1);
  EXPECT_EQ(split.error, "Can't create tmp file:" + folder.File("r1.xml"));
  EXPECT_TRUE(split.names.empty());
  EXPECT_EQ(folder.Listing(), "r.xml r1.xml");
}

TEST(SeparateXmlFileTest, LargePagesStreamThroughWhole) {
  // Pages far larger than the 2 KiB buffer, tags cut at every possible
  // buffer position, and a text run without any end tag: the chunks must
  // put the report back together byte for byte.
  std::string report = kPrologue + "\n";
  std::vector<std::string> pages;
  for (int p = 0; p < 7; ++p) {
    std::string page;
    for (int line = 0; line < 200 + p; ++line) {
      page += "<line>" + std::string(static_cast<size_t>(line % 37), 'x') + "</line>\n";
    }
    if (p == 3) page += "<text>" + std::string(200000, 'y') + "</text>\n";
    pages.push_back(page);
  }
  for (size_t p = 0; p < pages.size(); ++p) {
    if (p > 0) report += p % 2 ? "<page/>" : "<soft_page/>";
    report += pages[p];
  }
  report += "</report>\n";
  TempDir folder;
  WriteFile(folder.File("big.xml"), report);
  // 7 pages, factor 3: 7 / 3 + 1 = 3 pages a chunk.
  Split split = RunSplit(folder, folder.File("big.xml"), 3, 7);
  ASSERT_EQ(split.error, "");
  ASSERT_EQ(split.contents.size(), 3u);
  EXPECT_EQ(split.contents[0], kPrologue + "\n" + pages[0] + "<page/>" + pages[1] + "<soft_page/>" +
                                   pages[2] + "</report>");
  EXPECT_EQ(split.contents[1],
            kPrologue + pages[3] + "<soft_page/>" + pages[4] + "<page/>" + pages[5] + "</report>");
  EXPECT_EQ(split.contents[2], kPrologue + pages[6] + "</report>");
}

}  // namespace
}  // namespace kavelo::printcontrol
