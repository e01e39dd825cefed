#!/usr/bin/env bash
# Figures for the print control's document work, each beside a baseline
# measured in the same run:
#   - report splitting (SeparateXmlFile) of a large report against `cat` of
#     the same file, with the peak resident memory of a small and a large split;
#   - the HTML output sink against a plain fwrite of the same bytes;
#   - the XSLT transform of a report with Xalan-C (TransformToHtml) against
#     `xsltproc` on the same files.
# Inputs are generated into a private folder under /tmp and deleted.
#
# usage: bench/rendering_bench.sh [BUILD_DIR] [SPLIT_MB] [TRANSFORM_MB]
#        defaults: build, 500, 50
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
split_mb=${2:-500}
transform_mb=${3:-50}
bench="$build/bin/rendering_bench"
# The sample stylesheet as the print control uses it for a "full" report:
# hidden blocks removed (see report.xsl for why that matters to Xalan-C).
xsl="$top/bench/report.xsl"
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }

work=$(mktemp -d /tmp/kavelo-rendering-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# make_report.py writes about 8.6 KB a page.
pages_for() { echo $(( $1 * 1048576 / 8600 )); }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds_of() {  # runs "$@" three times, prints the median wall time in seconds
  for _ in 1 2 3; do
    /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null 2>&1
    tail -1 "$work/time"
  done | median
}
peak_rss_kib() {
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1
  tail -1 "$work/rss"
}
json_field() {  # json_field FILE BENCHMARK_NAME FIELD: value of the median aggregate
  python3 - "$@" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
for b in data["benchmarks"]:
    if b["name"].startswith(sys.argv[2]) and b.get("aggregate_name") == "median":
        print(b[sys.argv[3]])
        break
PY
}
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { printf "%.0f", bytes / 1048576 / s }'; }

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)  ($(nproc) cores)"

# --- splitting -------------------------------------------------------------
python3 "$top/bench/make_report.py" "$(pages_for "$split_mb")" >"$work/big.xml"
python3 "$top/bench/make_report.py" "$(pages_for 20)" >"$work/small.xml"
size=$(stat -c %s "$work/big.xml")
cat "$work/big.xml" >/dev/null  # same page-cache state for both
cat_s=$(seconds_of cat "$work/big.xml")
# cat into a file writes as many bytes as the split does.
cat_copy_s=$(seconds_of sh -c 'cat "$1" >"$2"' cat "$work/big.xml" "$work/copy.xml")
rm -f "$work/copy.xml"
KAVELO_BENCH_REPORT="$work/big.xml" "$bench" --benchmark_filter='BM_SeparateXmlFile' \
  --benchmark_repetitions=3 --benchmark_format=json >"$work/split.json" 2>/dev/null
split_ns=$(json_field "$work/split.json" BM_SeparateXmlFile real_time)
split_cpu_ns=$(json_field "$work/split.json" BM_SeparateXmlFile cpu_time)
chunks=$(json_field "$work/split.json" BM_SeparateXmlFile chunks)
split_s=$(awk -v ns="$split_ns" 'BEGIN { print ns / 1000 }')   # reported in ms
split_cpu_s=$(awk -v ns="$split_cpu_ns" 'BEGIN { print ns / 1000 }')
rss_small=$(KAVELO_BENCH_REPORT="$work/small.xml" peak_rss_kib "$bench" \
  --benchmark_filter='BM_SeparateXmlFile' --benchmark_min_time=0.01)
rss_big=$(KAVELO_BENCH_REPORT="$work/big.xml" peak_rss_kib "$bench" \
  --benchmark_filter='BM_SeparateXmlFile' --benchmark_min_time=0.01)
printf '\nSplit of a %d MB report (%s chunks), medians of 3:\n' $((size / 1048576)) "$chunks"
printf '  cat >/dev/null  %7.3f s  %6s MB/s\n' "$cat_s" "$(mbps "$size" "$cat_s")"
printf '  cat >file       %7.3f s  %6s MB/s\n' "$cat_copy_s" "$(mbps "$size" "$cat_copy_s")"
printf '  SeparateXmlFile %7.3f s  %6s MB/s wall, %s MB/s on CPU time (%.3f s); time ratio to cat >file %.1fx\n' \
  "$split_s" "$(mbps "$size" "$split_s")" "$(mbps "$size" "$split_cpu_s")" "$split_cpu_s" \
  "$(awk -v a="$split_s" -v b="$cat_copy_s" 'BEGIN { print a / b }')"
printf '  peak RSS of the whole benchmark process: %d KiB splitting 20 MB, %d KiB splitting %d MB\n' \
  "$rss_small" "$rss_big" $((size / 1048576))
rm -f "$work/big.xml" "$work/small.xml"

# --- output sink -----------------------------------------------------------
"$bench" --benchmark_filter='BM_HtmlOutputSink|BM_PlainFwrite' --benchmark_repetitions=3 \
  --benchmark_format=json >"$work/sink.json" 2>/dev/null
sink_ms=$(json_field "$work/sink.json" BM_HtmlOutputSink real_time)
fwrite_ms=$(json_field "$work/sink.json" BM_PlainFwrite real_time)
printf '\nOutput sink, 64 MiB of HTML in 512-byte chunks into a file, medians of 3:\n'
printf '  fwrite          %7.1f ms  %6s MB/s\n' "$fwrite_ms" "$(mbps 67108864 "$(awk -v m="$fwrite_ms" 'BEGIN{print m/1000}')")"
printf '  HtmlOutputSink  %7.1f ms  %6s MB/s; ratio to fwrite %.2fx\n' "$sink_ms" \
  "$(mbps 67108864 "$(awk -v m="$sink_ms" 'BEGIN{print m/1000}')")" \
  "$(awk -v a="$sink_ms" -v b="$fwrite_ms" 'BEGIN { print a / b }')"

# --- transform -------------------------------------------------------------
python3 "$top/bench/make_report.py" "$(pages_for "$transform_mb")" >"$work/report.xml"
size=$(stat -c %s "$work/report.xml")
xsltproc_s=$(seconds_of xsltproc --nonet -o "$work/xsltproc.html" "$xsl" "$work/report.xml")
KAVELO_BENCH_REPORT="$work/report.xml" KAVELO_BENCH_XSL="$xsl" "$bench" \
  --benchmark_filter='BM_TransformToHtml' --benchmark_repetitions=3 --benchmark_format=json \
  >"$work/transform.json" 2>/dev/null
xalan_ms=$(json_field "$work/transform.json" BM_TransformToHtml real_time)
xalan_s=$(awk -v m="$xalan_ms" 'BEGIN { print m / 1000 }')
printf '\nTransform of a %d MB report with bench/report.xsl, medians of 3:\n' $((size / 1048576))
printf '  xsltproc        %7.2f s  %6s MB/s\n' "$xsltproc_s" "$(mbps "$size" "$xsltproc_s")"
printf '  TransformToHtml %7.2f s  %6s MB/s; ratio to xsltproc %.2fx\n' "$xalan_s" \
  "$(mbps "$size" "$xalan_s")" "$(awk -v a="$xalan_s" -v b="$xsltproc_s" 'BEGIN { print a / b }')"
