#include "orlendi/html_renderer.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/process.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace kavelo::orlendi {
namespace {

class HtmlRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(root_ + "/a.html") << "<html><body><p>x</p></body></html>";
    std::ofstream(root_ + "/page.css") << "@page { size: 100mm 50mm !important; }";
  }
  bool Exists(const char* name) {
    struct stat info;
    return stat((root_ + "/" + name).c_str(), &info) == 0 && info.st_size > 0;
  }
  testsupport::TempDir temp_{"kavelo-render-test"};
  const std::string root_ = temp_.path();
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

// Everything a reader of the PDF could get out of it: every stream
// inflated (attachments are compressed file copies) and the text that
// pdftotext extracts (drawn text is stored as glyph numbers).
std::string PdfContent(const std::string& pdfPath, const std::string& textPath) {
  const std::string pdf = testsupport::ReadFile(pdfPath);
  std::string content;
  for (size_t at = pdf.find("stream"); at != std::string::npos; at = pdf.find("stream", at + 1)) {
    if (at >= 3 && pdf.compare(at - 3, 3, "end") == 0) continue;
    size_t start = at + 6;
    if (pdf.compare(start, 2, "\r\n") == 0) {
      start += 2;
    } else if (pdf.compare(start, 1, "\n") == 0) {
      start += 1;
    } else {
      continue;
    }
    const size_t end = pdf.find("endstream", start);
    if (end == std::string::npos) break;
    content.append(pdf, start, end - start);  // as stored, when not compressed
    z_stream z{};
    if (inflateInit(&z) != Z_OK) break;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(pdf.data() + start));
    z.avail_in = static_cast<uInt>(end - start);
    char out[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
      z.next_out = reinterpret_cast<Bytef*>(out);
      z.avail_out = sizeof(out);
      rc = inflate(&z, Z_NO_FLUSH);
      content.append(out, sizeof(out) - z.avail_out);
    }
    inflateEnd(&z);
    at = end;
  }
  platform::Process pdftotext;
  int exitCode = -1;
  if (pdftotext.Start({"/usr/bin/pdftotext", pdfPath, textPath}, /*quiet=*/true) == 0 &&
      pdftotext.Wait(60000, &exitCode) == 0 && exitCode == 0) {
    std::ifstream text(textPath, std::ios::binary);
    content.append(std::istreambuf_iterator<char>(text), std::istreambuf_iterator<char>());
  }
  return content;
}

std::string Svg(const std::string& text) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"300\" height=\"40\"><text x=\"5\" "
         "y=\"25\" font-size=\"14\">" +
         text + "</text></svg>";
}

TEST_F(HtmlRendererTest, DocumentsReadNoLocalFileButDataUrlsAndAssets) {
  // Files a hostile stylesheet would like to print, each with its marker.
  const std::string secret = root_ + "/secret";
  const std::string assets = root_ + "/assets";
  ASSERT_EQ(0, mkdir(secret.c_str(), 0700));
  ASSERT_EQ(0, mkdir(assets.c_str(), 0700));
  std::ofstream(secret + "/passwd") << "root:x:0:0:MARKERPASSWD:/root:/bin/sh\n";
  std::ofstream(secret + "/drawing.svg") << Svg("MARKERSVG");
  std::ofstream(secret + "/page.html") << "<html><body><p>MARKERFRAME</p></body></html>";
  std::ofstream(assets + "/logo.svg") << Svg("MARKERLOGO");
  ASSERT_EQ(0, symlink((secret + "/drawing.svg").c_str(), (assets + "/link.svg").c_str()));
  const std::string data =
      "data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' width='300' height='40'%3E"
      "%3Ctext x='5' y='25'%3EMARKERDATA%3C/text%3E%3C/svg%3E";
  struct Case {
    const char* name;
    std::string element;  // a <link> goes into <head>, anything else into <body>
    bool withAssets;
    const char* marker;
    bool shown;
  } cases[] = {
      {"attachment link", "<link rel=\"attachment\" href=\"file://" + secret + "/passwd\">", false,
       "MARKERPASSWD", false},
      {"attachment anchor", "<a rel=\"attachment\" href=\"file:" + secret + "/passwd\">a</a>",
       false, "MARKERPASSWD", false},
      {"img", "<img src=\"file://" + secret + "/drawing.svg\">", false, "MARKERSVG", false},
      {"img by relative path", "<img src=\"secret/drawing.svg\">", false, "MARKERSVG", false},
      {"embed", "<embed src=\"" + secret + "/drawing.svg\" type=\"image/svg+xml\">", false,
       "MARKERSVG", false},
      {"object", "<object data=\"secret/drawing.svg\" type=\"image/svg+xml\"></object>", false,
       "MARKERSVG", false},
      {"iframe", "<iframe src=\"secret/page.html\"></iframe>", false, "MARKERFRAME", false},
      {"css url()",
       "<style>p.c::before { content: url(secret/drawing.svg) }</style><p class=\"c\">c</p>", false,
       "MARKERSVG", false},
      {"data: image", "<img src=\"" + data + "\">", false, "MARKERDATA", true},
      {"asset without the folder set", "<img src=\"assets/logo.svg\">", false, "MARKERLOGO", false},
      {"asset", "<img src=\"assets/logo.svg\">", true, "MARKERLOGO", true},
      {"asset as attachment", "<link rel=\"attachment\" href=\"assets/logo.svg\">", true,
       "MARKERLOGO", false},
      {"out of the assets by ..", "<img src=\"file://" + assets + "/../secret/drawing.svg\">", true,
       "MARKERSVG", false},
      {"out of the assets by a link", "<img src=\"assets/link.svg\">", true, "MARKERSVG", false},
  };
  for (const Case& c : cases) {
    if (c.withAssets) {
      setenv("KAVELO_ORLENDI_ASSETS", assets.c_str(), 1);
    } else {
      unsetenv("KAVELO_ORLENDI_ASSETS");
    }
    const bool link = c.element.rfind("<link", 0) == 0;
    std::ofstream(root_ + "/a.html")
        << "<html><head>" << (link ? c.element : "") << "</head><body><p>MARKERPAGE</p>"
        << (link ? "" : c.element) << "</body></html>";
    std::string error;
    ASSERT_TRUE(RenderHtmlToPdf(root_ + "/a.html", root_ + "/page.css", root_ + "/a.pdf",
                                root_ + "/error.txt", 120000, &error))
        << c.name << ": " << error;
    const std::string content = PdfContent(root_ + "/a.pdf", root_ + "/a.txt");
    EXPECT_EQ(c.shown, content.find(c.marker) != std::string::npos) << c.name;
    // The page's own text is found: the search can see drawn text.
    EXPECT_NE(std::string::npos, content.find("MARKERPAGE")) << c.name;
  }
  unsetenv("KAVELO_ORLENDI_ASSETS");
}

}  // namespace
}  // namespace kavelo::orlendi
