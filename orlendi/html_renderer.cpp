#include "orlendi/html_renderer.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/print_limits.h"
#include "platform/process.h"

namespace kavelo::orlendi {

namespace {

// Run by kPythonPath -I (no environment, no user site) with the arguments
// HTML CSS PDF ERRORFILE ASSETS.  The two files are read directly; through
// the document only data: URLs and, when ASSETS names a folder, the regular
// files inside it (symbolic links resolved first) can be fetched.  No other
// local file, and nothing from the network.  Attachments, which would carry
// whole files into the PDF, are kept only when they are data: URLs.
constexpr char kRenderScript[] = R"PY(
import logging, os, stat, sys, urllib.parse, urllib.request
html, css, pdf, errors, assets = sys.argv[1:6]
try:
    import weasyprint
    logging.getLogger("weasyprint").setLevel(logging.ERROR)
    assets = os.path.realpath(assets) if assets.startswith("/") else ""
    def asset(url):
        parts = urllib.parse.urlsplit(url)
        if not assets or parts.netloc not in ("", "localhost"):
            return None
        path = os.path.realpath(urllib.request.url2pathname(parts.path))
        return path if path.startswith(assets + os.sep) else None
    def fetch(url, timeout=10, ssl_context=None):
        scheme = url.partition(":")[0].lower()
        if scheme == "data":
            return weasyprint.default_url_fetcher(url, timeout=timeout, ssl_context=ssl_context)
        path = asset(url) if scheme == "file" else None
        if path is None:
            raise ValueError("not an allowed resource: " + url[:200])
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            os.close(fd)
            raise ValueError("not a regular file: " + url[:200])
        return dict(file_obj=os.fdopen(fd, "rb"), redirected_url=url)
    def inline(url):
        return isinstance(url, str) and url.lower().startswith("data:")
    document = weasyprint.HTML(filename=html, url_fetcher=fetch).render(
        stylesheets=[weasyprint.CSS(filename=css)])
    document.metadata.attachments = [
        a for a in document.metadata.attachments if inline(a[0])]
    for page in document.pages:
        page.links = [l for l in page.links if l[0] != "attachment" or inline(l[1])]
    document.write_pdf(pdf)
except BaseException as failure:
    with open(errors, "w", encoding="utf-8", errors="replace") as out:
        out.write(("%s: %s" % (type(failure).__name__, failure))[:600])
    sys.exit(1)
)PY";

// The folder of local files (logos) that documents may show: the
// environment variable KAVELO_ORLENDI_ASSETS, an absolute path; unset or
// anything else, none.
std::string AssetsFolder() {
  const char* folder = std::getenv("KAVELO_ORLENDI_ASSETS");
  return folder != nullptr && folder[0] == '/' ? folder : "";
}

std::string ReadErrorText(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  char text[640];
  size_t length = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[length] = '\0';
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\n' || text[i] == '\r') text[i] = ' ';
  }
  return text;
}

}  // namespace

bool RenderHtmlToPdf(const std::string& htmlPath, const std::string& cssPath,
                     const std::string& pdfPath, const std::string& errorPath, int timeLimitMs,
                     std::string* error) {
  std::vector<std::string> args = {kPythonPath, "-I",    "-c",      kRenderScript, htmlPath,
                                   cssPath,     pdfPath, errorPath, AssetsFolder()};
  platform::Process renderer;
  // The renderer runs inside the same address-space limit as the print
  // control (PrintControlMemoryLimit), set before it starts.
  platform::ResourceLimits limits;
  limits.addressSpaceBytes = platform::ReadPrintLimits().AddressSpaceBytes();
  int status = renderer.Start(args, /*quiet=*/true, limits);
  if (status != 0) {
    char text[160];
    std::snprintf(text, sizeof text, "Error:can't start %s for WeasyPrint, errno = %d", kPythonPath,
                  status);
    *error = text;
    return false;
  }
  int exitCode = 0;
  status = renderer.Wait(timeLimitMs, &exitCode);
  if (status == platform::kWaitTimeout) {
    renderer.Terminate();
    renderer.Wait(5000);
    char text[160];
    std::snprintf(text, sizeof text, "Error:WeasyPrint did not finish within %.1f seconds.",
                  timeLimitMs / 1000.0);
    *error = text;
    return false;
  }
  if (status != 0 || exitCode != 0) {
    std::string reason = ReadErrorText(errorPath);
    char text[800];
    std::snprintf(text, sizeof text, "Error:WeasyPrint failed (exit status %d): %s", exitCode,
                  reason.empty() ? "no reason given" : reason.c_str());
    *error = text;
    return false;
  }
  return true;
}

}  // namespace kavelo::orlendi
