#include "orlendi/html_renderer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orlendi/render_script.h"
#include "orlendi/render_worker.h"
#include "platform/print_limits.h"
#include "platform/process.h"

namespace kavelo::orlendi {

namespace {

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

std::string TimedOut(int timeLimitMs) {
  char text[160];
  std::snprintf(text, sizeof text, "Error:WeasyPrint did not finish within %.1f seconds.",
                timeLimitMs / 1000.0);
  return text;
}

std::string Failed(int exitCode, const std::string& errorPath) {
  std::string reason = ReadErrorText(errorPath);
  char text[800];
  std::snprintf(text, sizeof text, "Error:WeasyPrint failed (exit status %d): %s", exitCode,
                reason.empty() ? "no reason given" : reason.c_str());
  return text;
}

// The worker runs elsewhere: it gets absolute paths.
std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char here[4096];
  return getcwd(here, sizeof here) != nullptr ? std::string(here) + "/" + path : path;
}

}  // namespace

SlotRange WorkerSlots(int renderWorkers, int printThreads, bool chunk) {
  const int front = std::max(0, printThreads - 1);
  const int chunkSlots = std::max(1, renderWorkers);
  return chunk ? SlotRange{front, chunkSlots} : SlotRange{0, front + chunkSlots};
}

bool RenderHtmlToPdf(const std::string& htmlPath, const std::string& cssPath,
                     const std::string& pdfPath, const std::string& errorPath, int timeLimitMs,
                     std::string* error, bool chunk) {
  // The renderer runs inside the same address-space limit as the print
  // control (PrintControlMemoryLimit), set before it starts.
  platform::ResourceLimits limits;
  const platform::PrintLimits printLimits = platform::ReadPrintLimits();
  limits.addressSpaceBytes = printLimits.AddressSpaceBytes();
  // A cold renderer goes with orlendi when orlendi is killed.
  limits.endsWithStarter = true;
  const std::string html = Absolute(htmlPath), css = Absolute(cssPath), pdf = Absolute(pdfPath),
                    errors = Absolute(errorPath);
  int coldLimitMs = timeLimitMs;
  const char* cold = std::getenv("KAVELO_ORLENDI_COLD");
  if (cold == nullptr || std::strcmp(cold, "1") != 0) {
    const auto start = std::chrono::steady_clock::now();
    switch (RenderWarm(html, css, pdf, errors, AssetsFolder(), timeLimitMs,
                       limits.addressSpaceBytes,
                       WorkerSlots(printLimits.RenderWorkerCount(),
                                   static_cast<int>(printLimits.printThreads), chunk))) {
      case WarmResult::kRendered:
        return true;
      case WarmResult::kFailed:
        *error = Failed(1, errorPath);
        return false;
      case WarmResult::kTimedOut:
        ::unlink(pdf.c_str());  // whatever the ended render left
        *error = TimedOut(timeLimitMs);
        return false;
      case WarmResult::kUnavailable:
        break;
    }
    // Cold, in the time that is left.
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    coldLimitMs = static_cast<int>(std::max<int64_t>(0, timeLimitMs - spent.count()));
  }
  std::vector<std::string> args = {kPythonPath, "-I", "-c",   kRenderScript,
                                   html,        css,  pdf,    errors,
                                   AssetsFolder()};
  platform::Process renderer;
  int status = renderer.Start(args, /*quiet=*/true, limits);
  if (status != 0) {
    char text[160];
    std::snprintf(text, sizeof text, "Error:can't start %s for WeasyPrint, errno = %d", kPythonPath,
                  status);
    *error = text;
    return false;
  }
  int exitCode = 0;
  status = renderer.Wait(coldLimitMs, &exitCode);
  if (status == platform::kWaitTimeout) {
    renderer.Terminate();
    renderer.Wait(5000);
    ::unlink(pdf.c_str());
    *error = TimedOut(timeLimitMs);
    return false;
  }
  if (status != 0 || exitCode != 0) {
    *error = Failed(exitCode, errorPath);
    return false;
  }
  return true;
}

}  // namespace kavelo::orlendi
