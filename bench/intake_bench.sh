#!/usr/bin/env bash
# Job intake figures beside their baselines, in one run:
#   a 1 GiB report streamed in (rate, resident memory) beside a plain loopback
#   copy of the same bytes into a file; 8 clients of small durable jobs beside
#   `lp` into a private CUPS scheduler; 500 connections open at once.
#   bench/intake_bench.sh [BUILD_DIR]    (as root for the CUPS baseline)
# Environment: KAVELO_BENCH_SIZE_PAGES (default 125700, about 1 GiB),
# KAVELO_BENCH_ROUNDS (default 3) for the stream, KAVELO_BENCH_JOB_ROUNDS (default 5)
# for the small jobs.  ext4 avoids inodes freed in the last minutes and checks
# each of them when it makes a file, so runs a few minutes apart measure best.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
pages=${KAVELO_BENCH_SIZE_PAGES:-125700}

[ -x "$build/bin/intake_bench" ] || { echo "intake_bench: build first ($build/bin/intake_bench)" >&2; exit 1; }
work=$(mktemp -d /tmp/kavelo-intake-bench.XXXXXX)
cleanup() {
  if [ -f "$work/cups/cupsd.pid" ]; then
    lpadmin -x kavelo-intake-lp 2>/dev/null || true
    "$top/scripts/cups-test-server.sh" stop "$work/cups" || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "generating a report of $pages pages into $work ..." >&2
python3 "$top/bench/make_report.py" "$pages" >"$work/large.xml"
samples=$top/printcontrol/testdata
export KAVELO_BENCH_XML=$work/large.xml
export KAVELO_BENCH_XSL=$samples/sales.xsl
export KAVELO_BENCH_SMALL_XML=$samples/sales.xml
export KAVELO_BENCH_SMALL_XSL=$samples/sales.xsl
export KAVELO_EVENTLOG=$work/events.jsonl

if [ "$(id -u)" -eq 0 ] && command -v cupsd >/dev/null; then
  CUPS_SERVER=$("$top/scripts/cups-test-server.sh" start "$work/cups" | tail -n 1)
  export CUPS_SERVER
  lpadmin -p kavelo-intake-lp -v file:///dev/null
  cupsaccept kavelo-intake-lp
  cupsdisable kavelo-intake-lp  # jobs stay queued: what is measured is acceptance
  export KAVELO_BENCH_LP_QUEUE=kavelo-intake-lp
else
  echo "intake_bench: no root or no cupsd: the lp baseline is skipped" >&2
fi

"$build/bin/intake_bench" "${@:2}"
