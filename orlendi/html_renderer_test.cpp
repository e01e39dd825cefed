#include "orlendi/html_renderer.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kavelo::orlendi {
namespace {

class HtmlRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kavelo-render-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
    std::ofstream(root_ + "/a.html") << "<html><body><p>x</p></body></html>";
    std::ofstream(root_ + "/page.css") << "@page { size: 100mm 50mm !important; }";
  }
  void TearDown() override {
    for (const char* name : {"a.html", "page.css", "a.pdf", "error.txt"}) {
      unlink((root_ + "/" + name).c_str());
    }
    rmdir(root_.c_str());
  }
  bool Exists(const char* name) {
    struct stat info;
    return stat((root_ + "/" + name).c_str(), &info) == 0 && info.st_size > 0;
  }
  std::string root_;
};

TEST_F(HtmlRendererTest, FailuresAndTimeOutsAreReportedWithoutAPdf) {
  struct Case {
    const char* name;
    std::string css;
    int timeLimitMs;
    const char* expected;
  } cases[] = {
      {"time limit", root_ + "/page.css", 20, "did not finish within 0.0 seconds"},
      {"missing stylesheet", root_ + "/none.css", 120000, "WeasyPrint failed (exit status 1)"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(RenderHtmlToPdf(root_ + "/a.html", c.css, root_ + "/a.pdf", root_ + "/error.txt",
                                 c.timeLimitMs, &error))
        << c.name;
    EXPECT_NE(std::string::npos, error.find(c.expected)) << c.name << ": " << error;
    EXPECT_FALSE(Exists("a.pdf")) << c.name;
  }
}

TEST_F(HtmlRendererTest, RendersWithTheUserStylesheet) {
  std::string error;
  ASSERT_TRUE(RenderHtmlToPdf(root_ + "/a.html", root_ + "/page.css", root_ + "/a.pdf",
                              root_ + "/error.txt", 120000, &error))
      << error;
  std::ifstream pdf(root_ + "/a.pdf", std::ios::binary);
  std::string head(5, '\0');
  pdf.read(&head[0], 5);
  EXPECT_EQ("%PDF-", head);
}

}  // namespace
}  // namespace kavelo::orlendi
