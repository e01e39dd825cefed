#!/usr/bin/env bash
# A large report split into chunks, with 2 copies, through the print control
# (Ostrevo) on the folder spooler, beside what a user would run for the same
# report: `xsltproc` + `weasyprint` of the whole report once (copies are the
# spooler's: `lp -n 2` renders nothing twice).  Ostrevo runs with
# RenderWorkers 1 (the chunks render one after the other) and 2 (two at a
# time, each in a warm worker of its own); each chunk renders once for both
# copies.  KAVELO_BENCH_WORKERS lists the RenderWorkers values to run
# (default "1 2").  All are interleaved round by round, so that all see the
# same machine; medians and ratios against the baseline are printed.
# Everything runs in a private folder under /tmp, deleted at the end with
# the workers the run started.
#
# usage: bench/chunk_render_bench.sh [BUILD_DIR] [PAGES] [ROUNDS]
#        defaults: build, 700, 3
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
pages=${2:-700}
rounds=${3:-3}
bin="$build/bin"
for program in Ostrevo orlendi kavelo-reg; do
  [ -x "$bin/$program" ] || { echo "build first: $bin/$program is missing" >&2; exit 1; }
done
for tool in xsltproc weasyprint pdfinfo; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/kavelo-chunk-bench.XXXXXX)
# The workers of the pool: their pids from the sockets' peer credentials.
end_workers() {
  for socket in "$work"/run/render.sock "$work"/run/w*/render.sock; do
    [ -S "$socket" ] || continue
    python3 - "$socket" <<'PY' 2>/dev/null || true
import os, socket, struct, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
os.kill(struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0], 9)
PY
  done
}
cleanup() {
  end_workers
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"/{registry,printers/P,run,job}
chmod 700 "$work/run"
export KAVELO_REGISTRY_DIR="$work/registry" KAVELO_EVENTLOG="$work/events.jsonl"
export KAVELO_SPOOLER="dir:$work/printers" KAVELO_ORLENDI_RUNTIME="$work/run"
parameters='HKLM\SYSTEM\CurrentControlSet\Services\Brelvane\Parameters'

python3 "$top/bench/make_report.py" "$pages" >"$work/big.xml"
cp "$top/printcontrol/testdata/sales.xsl" "$work/big.xsl"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
pdf_count() { find "$work/printers/P" -name '*.pdf' ! -name '.*' | wc -l; }

baseline() {
  local start
  start=$(now)
  xsltproc -o "$work/base.html" "$work/big.xsl" "$work/big.xml"
  weasyprint "$work/base.html" "$work/base.pdf" 2>/dev/null
  since "$start"
}
# ostrevo WORKERS: one run of the print control with that many render
# workers; prints its seconds.
ostrevo() {
  local start
  "$bin/kavelo-reg" add "$parameters" /v RenderWorkers /t REG_DWORD /d "$1" /f >/dev/null
  rm -rf "$work/printers/P" && mkdir -p "$work/printers/P"
  cp "$work/big.xml" "$work/job/big.xml"
  cp "$work/big.xsl" "$work/job/big.xsl"
  start=$(now)
  "$bin/Ostrevo" "$bin/Ostrevo" "xml=$work/job/big.xml;xsl=$work/job/big.xsl;fromPage=1;toPage=$pages;printerName=P;copy=2;orien=0"
  since "$start"
}

read -r -a workers <<<"${KAVELO_BENCH_WORKERS:-1 2}"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)  ($(nproc) cores)"
echo "$pages-page report, 2 copies; $rounds rounds, each: baseline, RenderWorkers ${workers[*]}"
: >"$work/base.txt"
for round in $(seq 1 "$rounds"); do
  b=$(baseline); echo "$b" >>"$work/base.txt"
  line=$(printf 'xsltproc + weasyprint %.1f s' "$b")
  for n in "${workers[@]}"; do
    t=$(ostrevo "$n"); echo "$t" >>"$work/w$n.txt"
    line+=$(printf ', RenderWorkers %d %.1f s' "$n" "$t")
  done
  printf '  round %d: %s (%d PDFs)\n' "$round" "$line" "$(pdf_count)"
done
if grep -q '"type":"error"' "$KAVELO_EVENTLOG" 2>/dev/null; then
  echo "errors were reported:" && cat "$KAVELO_EVENTLOG"
  exit 1
fi
base=$(median <"$work/base.txt")
printf '\nMedians of %d rounds (load average now %s):\n' "$rounds" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '  xsltproc + weasyprint, whole report once  %6.1f s (baseline)\n' "$base"
for n in "${workers[@]}"; do
  m=$(median <"$work/w$n.txt")
  printf '  Ostrevo, 2 copies, RenderWorkers %-2d       %6.1f s  %.2f x the baseline\n' "$n" "$m" \
    "$(awk -v a="$m" -v b="$base" 'BEGIN { print a / b }')"
done
printf '  PDFs per run (chunks x copies): %d\n' "$(pdf_count)"
