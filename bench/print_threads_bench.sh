#!/usr/bin/env bash
# Head of line between printers, with PrintThreads 1 (the baseline, one
# print control at a time) and PrintThreads 2, measured in the same run:
# a REPORT_PAGES-page report from make_report.py is sent for printer P1,
# and one second later the 3-page sales sample for printer P2; the figure is
# the time from the small job's send to its PDF in P2's folder (folder
# spooler, each printer a folder).  Each setting runs ROUNDS times (a fresh
# service each round, the warm renderer started by one sales job first);
# the medians and their ratio are printed.  The large job is not waited
# for: the service is stopped once the small job has printed and its
# persisted queue and files are cleared.  A third setting, PrintThreads 2
# with KAVELO_ORLENDI_COLD=1, shows what is left when the two jobs do not
# share the account's one warm renderer.  Error events (on a loaded
# machine a render of the large job's chunks has failed with WeasyPrint's
# exit status 1) are counted per setting and printed, not fatal: a round in
# which the large job failed early understates its setting's figure.
# Everything runs in a private
# folder under /tmp, deleted at the end.  As root the service runs as
# "nobody".
#
# usage: bench/print_threads_bench.sh [BUILD_DIR] [ROUNDS] [REPORT_PAGES]
#        defaults: build, 3, 700
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
rounds=${2:-3}
report_pages=${3:-700}
bin="$build/bin"
port=${KAVELO_BENCH_PORT:-4719}
samples="$top/printcontrol/testdata"
# shellcheck source=bench/service_bench_lib.sh
. "$top/bench/service_bench_lib.sh"
bench_work threads-bench P1 P2
python3 "$top/bench/make_report.py" "$report_pages" >"$work/jobs/big.xml"
cp "$samples/sales.xsl" "$work/jobs/big.xsl"

register_service
reg() { "${run_as[@]}" "$bin/kavelo-reg" "$@" >/dev/null; }

# One round: appends the seconds from the small job's send to its PDF to
# OUT.  In this shell, not a subshell, so that the exit trap knows the
# service.
round() {  # round PRINT_THREADS N OUT [COLD]
  reg add "$key\\Parameters" /v PrintThreads /t REG_DWORD /d "$1" /f
  start_service "$work/run$2" ${4:-}
  python3 - "$bin/kavelo-send" "$port" "$work/jobs" "$work/printers" "$KAVELO_EVENTLOG" \
    >>"$3" <<'PY'
import os, subprocess, sys, time
send, port, jobs, printers, events = sys.argv[1:6]
def pdfs(printer):
    folder = os.path.join(printers, printer)
    return sum(1 for n in os.listdir(folder) if n.endswith(".pdf") and not n.startswith("."))
def job(name, printer, background=False):
    args = [send, "--host", "127.0.0.1", "--port", port, "--options", "printer=" + printer,
            os.path.join(jobs, name + ".xml"), os.path.join(jobs, name + ".xsl")]
    if background:
        return subprocess.Popen(args, stdout=subprocess.DEVNULL)
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
def wait_pdf(printer, before, start, limit):
    while pdfs(printer) <= before:
        if time.monotonic() - start > limit:
            sys.exit("no PDF for %s after %d s" % (printer, limit))
        time.sleep(0.002)
    return time.monotonic() - start
# The warm renderer starts with a first small job.
before = pdfs("P2")
start = time.monotonic()
job("sales", "P2")
wait_pdf("P2", before, start, 60)
big = job("big", "P1", background=True)
time.sleep(1.0)
before = pdfs("P2")
start = time.monotonic()
job("sales", "P2")
print("%.3f" % wait_pdf("P2", before, start, 600))
big.wait()
PY
  stop_service
  # The warm renderer is no child of the service: a render of the stopped
  # job would go on beside the next round.
  end_workers
  # The large job is left unfinished: its persisted value and files go.
  reg delete "$key\\PrintQueue" /f 2>/dev/null || true
  find "$work/spool" "$work/printers/P1" "$work/printers/P2" -mindepth 1 -delete
  cat "$KAVELO_EVENTLOG" >>"$work/events.all"
  printf '%s ' "$(grep -c '"type":"error"' "$KAVELO_EVENTLOG" || true)" >>"$3.errors"
  : >"$KAVELO_EVENTLOG"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)  ($(nproc) cores)"
n=0
for _ in $(seq 1 "$rounds"); do
  for setting in 1 2 2c; do  # interleaved, so that load changes touch all alike
    n=$((n + 1))
    round "${setting%c}" "$n" "$work/figures.$setting" ${setting#[12]}
  done
done
declare -A figures
for setting in 1 2 2c; do figures[$setting]=$(tr '\n' ' ' <"$work/figures.$setting"); done
of() { median <"$work/figures.$1"; }
one=$(of 1) two=$(of 2) cold=$(of 2c)
printf '\n3-page job for P2 sent 1 s after a %d-page job for P1, send to PDF (s),\n' \
  "$report_pages"
printf 'median of %d rounds:\n' "$rounds"
printf '  PrintThreads 1 (baseline)  %6.3f   rounds: %s\n' "$one" "${figures[1]}"
printf '  PrintThreads 2             %6.3f   rounds: %s\n' "$two" "${figures[2]}"
printf '  PrintThreads 2, cold       %6.3f   rounds: %s\n' "$cold" "${figures[2c]}"
printf '  error events per round: PrintThreads 1: %s; 2: %s; 2, cold: %s\n' \
  "$(cat "$work/figures.1.errors")" "$(cat "$work/figures.2.errors")" \
  "$(cat "$work/figures.2c.errors")"
if grep -q '"type":"error"' "$work/events.all" 2>/dev/null; then
  echo "the errors:" && grep '"type":"error"' "$work/events.all" | cut -c1-300
fi
printf '  PrintThreads 2 is %.1fx faster; target: at most 1.5 s\n' \
  "$(awk -v a="$one" -v b="$two" 'BEGIN { print a / b }')"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
