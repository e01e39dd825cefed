// Jobs submitted per second through the spooler interface to a stopped
// (held) CUPS queue of the benchmark's own.  Needs CUPS_SERVER naming a
// scheduler that lets the caller add queues (bench/spooler_bench.sh starts
// the private one and measures `lp` beside it).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>
#include <cups/cups.h>

#include "platform/spooler.h"

namespace {

using kavelo::platform::kSpoolerOk;

// A one-page PDF, the kind of document the HTML printing program submits.
constexpr char kPdf[] =
    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]>>endobj\n"
    "trailer<</Root 1 0 R>>\n%%EOF\n";

ipp_status_t QueueRequest(ipp_op_t op, const std::string& queue, bool create) {
  ipp_t* request = ippNewRequest(op);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%s", queue.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  if (create) {
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, "file:///dev/null");
    ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
    ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_STOPPED);
  }
  if (op == IPP_OP_PURGE_JOBS) ippAddBoolean(request, IPP_TAG_OPERATION, "purge-jobs", 1);
  ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/admin/"));
  return cupsLastError();
}

void BM_SubmitToHeldQueue(benchmark::State& state) {
  if (getenv("CUPS_SERVER") == nullptr) {
    state.SkipWithError("CUPS_SERVER is not set");
    return;
  }
  std::string queue = "kavelo-bench-" + std::to_string(getpid());
  if (QueueRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, queue, true) != IPP_STATUS_OK ||
      QueueRequest(IPP_OP_PAUSE_PRINTER, queue, false) != IPP_STATUS_OK) {
    state.SkipWithError("cannot add the benchmark queue");
    return;
  }
  char path[] = "/tmp/kavelo-bench.XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || write(fd, kPdf, sizeof kPdf - 1) != static_cast<ssize_t>(sizeof kPdf - 1)) {
    state.SkipWithError("cannot write the document");
    return;
  }
  close(fd);
  std::unique_ptr<kavelo::platform::Spooler> spooler = kavelo::platform::MakeCupsSpooler();
  kavelo::platform::SubmitOptions options;
  options.documentName = "/opt/kavelo/spool/00000001_1.html";
  options.copies = 2;
  options.marginLeftMm = options.marginRightMm = 10;
  options.hold = state.range(0) != 0;
  for (auto _ : state) {
    int32_t id = 0;
    if (spooler->SubmitDocument(queue, path, options, &id) != kSpoolerOk) {
      state.SkipWithError("submit failed");
      break;
    }
    benchmark::DoNotOptimize(id);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["jobs_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  QueueRequest(IPP_OP_PURGE_JOBS, queue, false);
  QueueRequest(IPP_OP_CUPS_DELETE_PRINTER, queue, false);
  unlink(path);
}
// Argument: 0 submits plainly to the stopped queue, 1 submits held.
BENCHMARK(BM_SubmitToHeldQueue)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
