#include "printcontrol/render/remove_equals.h"

#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::printcontrol {
namespace {

using testsupport::ReadFileOrMissing;
using testsupport::TempDir;
using testsupport::WriteFile;

const std::string kEq80(80, '=');
const std::string kEq71(71, '=');
const std::string kEq70(70, '=');

TEST(RemoveEqualsTest, DropsOneSeparatorBeforePreInsideH1) {
  struct Case {
    const char* name;
    std::string html;
    std::string result;
  } cases[] = {
      {"80 equals signs before </pre>",
       "<body>\n<h1>\n<pre>PAGE 1\n" + kEq80 + "\n</pre>\n</h1>\n<pre>x\n</pre>\n",
       "<body>\n<h1>\n<pre>PAGE 1\n</pre>\n</h1>\n<pre>x\n</pre>\n"},
      {"71 is enough", "<H1 class=\"a\">\n" + kEq71 + "\n</PRE>\n</H1>\n",
       "<H1 class=\"a\">\n</PRE>\n</H1>\n"},
      {"70 is not", "<h1>\n" + kEq70 + "\n</pre>\n</h1>\n", "<h1>\n" + kEq70 + "\n</pre>\n</h1>\n"},
      {"not before </pre>", "<h1>\n" + kEq80 + "\ntext\n</pre>\n</h1>\n",
       "<h1>\n" + kEq80 + "\ntext\n</pre>\n</h1>\n"},
      {"outside h1", "<h2>\n" + kEq80 + "\n</pre>\n</h2>\n",
       "<h2>\n" + kEq80 + "\n</pre>\n</h2>\n"},
      {"after </h1> copy mode again", "<h1>\n</h1>\n" + kEq80 + "\n</pre>\n",
       "<h1>\n</h1>\n" + kEq80 + "\n</pre>\n"},
      {"<h1x> does not open a block", "<h1x>\n" + kEq80 + "\n</pre>\n",
       "<h1x>\n" + kEq80 + "\n</pre>\n"},
      {"two blocks", "<h1>\n" + kEq80 + "\n</pre>\n</h1>\n<h1>\n" + kEq80 + "\n</pre>\n</h1>\n",
       "<h1>\n</pre>\n</h1>\n<h1>\n</pre>\n</h1>\n"},
      {"held line written at the end", "<h1>\nlast", "<h1>\nlast"},
      {"empty file", "", ""},
  };
  for (const Case& c : cases) {
    TempDir folder;
    std::string html = folder.File("page3.html");
    WriteFile(html, c.html);
    char error[1024] = "stale";
    removeEquals(html.c_str(), error);
    EXPECT_STREQ(error, "") << c.name;
    EXPECT_EQ(ReadFileOrMissing(html), c.result) << c.name;
    EXPECT_EQ(folder.Listing(), "page3.html") << c.name;  // no temporary file left
  }
}

TEST(RemoveEqualsTest, FailuresKeepTheHtml) {
  TempDir folder;
  char error[1024] = "stale";
  removeEquals(folder.File("absent.html").c_str(), error);
  EXPECT_STREQ(error, "");
  EXPECT_EQ(folder.Listing(), "");

  // The temporary path "<folder>/pageeq" is taken by a folder, so the
  // temporary file cannot be made and the HTML stays as it is.
  std::string html = folder.File("page.html");
  std::string content = "<h1>\n" + kEq80 + "\n</pre>\n</h1>\n";
  WriteFile(html, content);
  ASSERT_EQ(mkdir(folder.File("pageeq").c_str(), 0700), 0);
  removeEquals(html.c_str(), error);
  EXPECT_STREQ(error, "");
  EXPECT_EQ(ReadFileOrMissing(html), content);
}

TEST(RemoveEqualsTest, ReadFailureKeepsTheHtml) {
  TempDir folder;
  // A folder opens for reading but gives a read error: the half-made copy
  // must not replace anything, and the failure is reported.
  std::string html = folder.File("page.html");
  ASSERT_EQ(mkdir(html.c_str(), 0700), 0);
  char error[1024] = "";
  removeEquals(html.c_str(), error);
  EXPECT_EQ(std::string(error), "Can't write " + folder.File("pageeq") + ". (removeEquals)");
  EXPECT_EQ(folder.Listing(), "page.html");
}

}  // namespace
}  // namespace kavelo::printcontrol
