// kavelo-send: sends one print job to the Kavelo print service and says what
// the service answered at each step.
#include <errno.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/job_client.h"
#include "tools/page_range.h"

namespace {

constexpr int kExitQueued = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 3;

const char kUsage[] =
    "usage: kavelo-send [--host H] [--port P] [--options TEXT] [--timeout SECONDS]\n"
    "                   [--source ADDRESS] REPORT.xml STYLESHEET.xsl\n";

const char kHelp[] =
    "Sends one print job (print options, an XML report and its XSL stylesheet) to\n"
    "the Kavelo print service and tells what the service answered at each step.\n"
    "\n"
    "  --host H           the service's host (default 127.0.0.1)\n"
    "  --port P           the service's port (default 4000)\n"
    "  --options TEXT     print options, for instance\n"
    "                     \"printer='Office 2',copies=2,frompage=1,topage=3,orientation=1\"\n"
    "                     (default: none; the service's printer and one copy).\n"
    "                     Without topage, frompage=1 (unless given) and topage =\n"
    "                     the report's page count (its page breaks + 1) are added.\n"
    "  --timeout SECONDS  the longest wait for the connection and for each answer\n"
    "                     (default 60)\n"
    "  --source ADDRESS   the local address to connect from (default: the system's\n"
    "                     choice), for a machine with several addresses\n"
    "  --help             this text\n"
    "\n"
    "Exit status: 0 the job was queued, 1 the service refused it, 2 usage error\n"
    "(bad arguments, unreadable file), 3 network or protocol failure.\n";

bool ParseNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

std::string Mebibytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  long port = 4000;
  long timeoutSeconds = 60;
  std::string options;
  std::string source;
  const char* files[2] = {nullptr, nullptr};
  int fileCount = 0;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
      hasValue = true;
    }
    auto take = [&](const char* name) -> bool {
      if (hasValue) return true;
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kavelo-send: %s needs a value\n%s", name, kUsage);
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs("\n", stdout);
      std::fputs(kHelp, stdout);
      return kExitQueued;
    } else if (arg == "--host") {
      if (!take("--host")) return kExitUsage;
      host = value;
    } else if (arg == "--port") {
      if (!take("--port")) return kExitUsage;
      if (!ParseNumber(value.c_str(), 1, 65535, &port)) {
        std::fprintf(stderr, "kavelo-send: --port must be a number from 1 to 65535\n");
        return kExitUsage;
      }
    } else if (arg == "--options") {
      if (!take("--options")) return kExitUsage;
      options = value;
    } else if (arg == "--timeout") {
      if (!take("--timeout")) return kExitUsage;
      if (!ParseNumber(value.c_str(), 1, 86400, &timeoutSeconds)) {
        std::fprintf(stderr, "kavelo-send: --timeout must be a number of seconds, 1 to 86400\n");
        return kExitUsage;
      }
    } else if (arg == "--source") {
      if (!take("--source")) return kExitUsage;
      source = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "kavelo-send: unknown option %s\n%s", argv[i], kUsage);
      return kExitUsage;
    } else if (fileCount < 2) {
      files[fileCount++] = argv[i];
    } else {
      std::fprintf(stderr, "kavelo-send: too many arguments\n%s", kUsage);
      return kExitUsage;
    }
  }
  if (fileCount != 2) {
    std::fprintf(stderr, "kavelo-send: give the report and its stylesheet\n%s", kUsage);
    return kExitUsage;
  }
  for (const char* file : files) {
    if (access(file, R_OK) != 0) {
      std::fprintf(stderr, "kavelo-send: cannot read %s: %s\n", file, std::strerror(errno));
      return kExitUsage;
    }
  }

  // The print control refuses a job without a last page: the whole report
  // is asked for unless the options say otherwise.
  if (!kavelo::NamesLastPage(options)) {
    int32_t pages = 1;
    std::string error;
    if (!kavelo::CountReportPages(files[0], &pages, &error)) {
      std::fprintf(stderr, "kavelo-send: %s\n", error.c_str());
      return kExitUsage;
    }
    options = kavelo::CompletePageRange(options, pages);
  }
  if (options.size() > 65535) {
    std::fprintf(stderr, "kavelo-send: the option text is longer than 65535 bytes\n");
    return kExitUsage;
  }
  std::printf("Print options: %s\n", options.c_str());

  kavelo::JobClient client(host, static_cast<int>(port), static_cast<int>(timeoutSeconds * 1000));
  if (!source.empty()) client.set_source_address(source);
  bool progressShown = false;
  client.OnStep([&progressShown](kavelo::JobStep, const std::string& text) {
    if (progressShown) {
      std::fputs("\n", stderr);
      progressShown = false;
    }
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  });
  // Progress only on a terminal and only for documents worth waiting for.
  if (isatty(STDERR_FILENO)) {
    uint64_t lastShown = 0;
    client.OnProgress([&](uint64_t sent, uint64_t total) {
      if (total < (8u << 20)) return;
      if (sent != total && sent - lastShown < (4u << 20)) return;
      lastShown = sent;
      std::fprintf(stderr, "\rSending the documents: %3d%% (%s of %s)",
                   static_cast<int>(sent * 100 / total), Mebibytes(sent).c_str(),
                   Mebibytes(total).c_str());
      progressShown = true;
    });
  }

  kavelo::JobDocument xml{files[0], ""};
  kavelo::JobDocument xsl{files[1], ""};
  kavelo::JobResult result = client.Send(options, xml, xsl);
  if (progressShown) std::fputs("\n", stderr);
  switch (result.outcome) {
    case kavelo::JobOutcome::kQueued:
      return kExitQueued;
    case kavelo::JobOutcome::kRefused:
      std::printf("The service refused the job: %s.\n", result.detail.c_str());
      return kExitRefused;
    case kavelo::JobOutcome::kFailed:
      break;
  }
  std::fprintf(stderr, "kavelo-send: %s\n", result.detail.c_str());
  return kExitFailure;
}
