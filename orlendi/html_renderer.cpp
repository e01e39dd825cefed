#include "orlendi/html_renderer.h"

#include <cstdio>
#include <vector>

#include "platform/print_limits.h"
#include "platform/process.h"

namespace kavelo::orlendi {

namespace {

// Run by kPythonPath -I (no environment, no user site) with the arguments
// HTML CSS PDF ERRORFILE.  Only file: and data: URLs are fetched.
constexpr char kRenderScript[] = R"PY(
import logging, sys
html, css, pdf, errors = sys.argv[1:5]
try:
    import weasyprint
    logging.getLogger("weasyprint").setLevel(logging.ERROR)
    def fetch(url, timeout=10, ssl_context=None):
        if not url.lower().startswith(("file:", "data:")):
            raise ValueError("not a local resource: " + url[:200])
        return weasyprint.default_url_fetcher(url, timeout=timeout, ssl_context=ssl_context)
    document = weasyprint.HTML(filename=html, url_fetcher=fetch)
    document.write_pdf(pdf, stylesheets=[weasyprint.CSS(filename=css)])
except BaseException as failure:
    with open(errors, "w", encoding="utf-8", errors="replace") as out:
        out.write(("%s: %s" % (type(failure).__name__, failure))[:600])
    sys.exit(1)
)PY";

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
  std::vector<std::string> args = {kPythonPath, "-I",    "-c",    kRenderScript,
                                   htmlPath,    cssPath, pdfPath, errorPath};
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
