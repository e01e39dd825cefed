// Benchmarks of the print control's document work: report splitting, the
// HTML output sink against a plain fwrite of the same bytes, and the XSLT
// transform of a whole report.  bench/rendering_bench.sh runs them on large
// generated reports beside `cat` and `xsltproc`; run alone, the split and
// transform benchmarks generate a small report into /tmp.
//
// Environment: KAVELO_BENCH_REPORT (report XML to split and transform),
// KAVELO_BENCH_XSL (stylesheet for the transform).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <xalanc/XalanTransformer/XalanTransformer.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "printcontrol/render/html_output_sink.h"
#include "printcontrol/render/separate_xml_file.h"
#include "printcontrol/render/string_list.h"
#include "printcontrol/render/transform_to_html.h"

namespace {

std::string TempPath(const char* name) {
  return "/tmp/kavelo-bench-" + std::to_string(getpid()) + "-" + name;
}

long long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

double PeakRssMiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

// A report in the shape of the samples: `pages` pages of 60 lines.
void WriteReport(const std::string& path, int pages) {
  FILE* out = fopen(path.c_str(), "w");
  if (out == nullptr) abort();
  fprintf(out,
          "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<report>\n<report_info>\n"
          "<title>Generated</title>\n<style_sheet_type>full</style_sheet_type>\n"
          "</report_info>\n");
  for (int p = 0; p < pages; ++p) {
    fprintf(out, "<page_header><line>PAGE %d</line></page_header>\n<detail>\n", p + 1);
    for (int i = 0; i < 58; ++i) {
      fprintf(out, "<line>%06d %-100s %12.2f</line>\n", i, "ITEM &amp; DESCRIPTION", i * 1.5);
    }
    fprintf(out, "</detail>\n%s", p + 1 < pages ? (p % 3 ? "<page/>\n" : "<soft_page/>\n") : "");
  }
  fprintf(out, "</report>\n");
  fclose(out);
}

// The report to work on: KAVELO_BENCH_REPORT, or a generated one that is
// deleted when the benchmark ends.
class Report {
 public:
  explicit Report(int pages) {
    const char* given = getenv("KAVELO_BENCH_REPORT");
    if (given != nullptr && *given != '\0') {
      path_ = given;
    } else {
      path_ = TempPath("report.xml");
      WriteReport(path_, pages);
      owned_ = true;
    }
  }
  ~Report() {
    if (owned_) remove(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool owned_ = false;
};

void BM_SeparateXmlFile(benchmark::State& state) {
  // The chunks go beside a copy-free report: split a report that lives in
  // /tmp, so the chunk files land there too.
  Report report(6000);
  long long size = FileSize(report.path());
  kavelo::printcontrol::StringList chunks("string2");
  char error[1024];
  for (auto _ : state) {
    kavelo::printcontrol::SeparateXmlFile(report.path().c_str(), 8, 400, &chunks, error);
    if (error[0] != '\0') {
      state.SkipWithError(error);
      break;
    }
    state.PauseTiming();
    for (int i = 0; i < chunks.Count(); ++i) remove(chunks.Item(i));
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["chunks"] = chunks.Count();
  state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_SeparateXmlFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// HTML as the processor hands it over: 512-byte chunks with CR LF line ends
// and some no-break spaces.
std::string SinkInput() {
  std::string line =
      "<tr><td>000123</td><td>ITEM &amp; DESCRIPTION\xC2\xA0</td><td>1.50</td></tr>\r\n";
  std::string text;
  while (text.size() < (64u << 20)) text += line;
  return text;
}

template <typename WriteChunk>
void RunSinkBenchmark(benchmark::State& state, WriteChunk write_chunk) {
  static const std::string input = SinkInput();
  std::string path = TempPath("sink.html");
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "w");
    for (size_t at = 0; at < input.size(); at += 512) {
      size_t n = std::min<size_t>(512, input.size() - at);
      if (write_chunk(input.data() + at, n, file) != n) abort();
    }
    fclose(file);
  }
  remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}

void BM_HtmlOutputSink(benchmark::State& state) {
  kavelo::printcontrol::HtmlOutputSink::Context sink;
  RunSinkBenchmark(state, [&sink](const char* data, size_t n, FILE* file) {
    if (sink.file != file) sink = kavelo::printcontrol::HtmlOutputSink::Context{file, 0};
    return kavelo::printcontrol::HtmlOutputSink::Write(data, n, &sink);
  });
}
BENCHMARK(BM_HtmlOutputSink)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the same bytes written unchanged.
void BM_PlainFwrite(benchmark::State& state) {
  RunSinkBenchmark(state,
                   [](const char* data, size_t n, FILE* file) { return fwrite(data, 1, n, file); });
}
BENCHMARK(BM_PlainFwrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TransformToHtml(benchmark::State& state) {
  Report report(600);
  const char* xsl = getenv("KAVELO_BENCH_XSL");
  std::string stylesheet =
      xsl != nullptr && *xsl != '\0' ? xsl : KAVELO_SOURCE_DIR "/bench/report.xsl";
  std::string html = TempPath("page.html");
  char error[1024];
  for (auto _ : state) {
    kavelo::printcontrol::TransformToHtml(report.path().c_str(), stylesheet.c_str(), html.c_str(),
                                          0, error);
    if (error[0] != '\0') {
      state.SkipWithError(error);
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * FileSize(report.path()));
  state.counters["html_MiB"] = FileSize(html) / 1048576.0;
  remove(html.c_str());
}
BENCHMARK(BM_TransformToHtml)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  xercesc::XMLPlatformUtils::Initialize();
  xalanc::XalanTransformer::initialize();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  xalanc::XalanTransformer::terminate();
  xercesc::XMLPlatformUtils::Terminate();
  return 0;
}
