#!/usr/bin/env bash
# Jobs per second into a stopped (held) CUPS queue: through the spooler
# interface (build/bin/spooler_bench) and with `lp` (one process per job,
# the usual way to print from a script), in the same run on the same
# private scheduler.  Prints medians of 5 rounds and their ratio.
#   bench/spooler_bench.sh [BUILD_DIR]     (as root)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
rounds=5
jobs_per_round=50

[ -x "$build/bin/spooler_bench" ] || { echo "spooler_bench: build first ($build/bin/spooler_bench)" >&2; exit 1; }
work=$(mktemp -d /tmp/kavelo-spooler-bench.XXXXXX)
cleanup() {
  [ -f "$work/cups/cupsd.pid" ] && "$top/scripts/cups-test-server.sh" stop "$work/cups" || true
  rm -rf "$work"
}
trap cleanup EXIT
CUPS_SERVER=$("$top/scripts/cups-test-server.sh" start "$work/cups" | tail -n 1)
export CUPS_SERVER

# The interface.
"$build/bin/spooler_bench" --benchmark_repetitions=$rounds --benchmark_report_aggregates_only=true \
  --benchmark_format=json --benchmark_out="$work/bench.json" --benchmark_out_format=json >/dev/null

# lp, into a stopped queue of its own, the same document and options.
python3 - "$work/doc.pdf" <<'EOF'
import sys
open(sys.argv[1], "wb").write(b"%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    b"2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    b"3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]>>endobj\n"
    b"trailer<</Root 1 0 R>>\n%%EOF\n")
EOF
lpadmin -p kavelo-lp-bench -v file:///dev/null
cupsaccept kavelo-lp-bench
cupsdisable kavelo-lp-bench
: >"$work/lp.txt"
for _ in $(seq $rounds); do
  start=$(date +%s.%N)
  for _ in $(seq $jobs_per_round); do
    lp -d kavelo-lp-bench -t /opt/kavelo/spool/00000001_1.html -n 2 -o page-left=28 \
      -o page-right=28 "$work/doc.pdf" >/dev/null
  done
  end=$(date +%s.%N)
  echo "$start $end" >>"$work/lp.txt"
done
cancel -a -x kavelo-lp-bench 2>/dev/null || true

python3 - "$work/bench.json" "$work/lp.txt" "$jobs_per_round" <<'EOF'
import json, statistics, sys
bench = json.load(open(sys.argv[1]))
lp_rounds = [int(sys.argv[3]) / (float(b) - float(a))
             for a, b in (line.split() for line in open(sys.argv[2]))]
lp = statistics.median(lp_rounds)
print(f"lp (one process per job)             median {lp:8.1f} jobs/s  "
      f"(rounds: {', '.join(f'{r:.1f}' for r in lp_rounds)})")
for b in bench["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    rate = b["jobs_per_second"]
    kind = "held on submit" if "/1" in b["run_name"] else "plain"
    print(f"Spooler::SubmitDocument ({kind:14}) median {rate:8.1f} jobs/s  = {rate / lp:5.1f} x lp")
EOF
