#!/usr/bin/env bash
# Figures for orlendi's warm renderer, each beside a baseline measured in the
# same run:
#   1. the sales sample, JOBS jobs over TCP through the real Brelvane on the
#      folder spooler, one after the other: seconds per job from send to PDF
#      (median), warm and with KAVELO_ORLENDI_COLD=1, beside xsltproc + the
#      weasyprint command line per job, and the CPU time a job costs;
#   2. where a warm job's time goes: the render alone (one request to the
#      worker), orlendi as a whole, Ostrevo as a whole, the transform;
#   3. a report of REPORT_PAGES pages from make_report.py, 2 copies, split
#      into chunks by Ostrevo: total time warm and cold;
#   4. the worker's resident memory after 10 and after 500 documents (the
#      worker recycles itself after 200: the figure after 190 shows what a
#      single worker grows to).
# Everything runs in a private folder under /tmp, deleted at the end with
# the workers the run started.  As root the service runs as "nobody".
#
# usage: bench/warm_render_bench.sh [BUILD_DIR] [JOBS] [REPORT_PAGES]
#        defaults: build, 20, 700; REPORT_PAGES 0 skips part 3,
#        KAVELO_BENCH_SKIP_MEMORY=1 part 4
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
jobs=${2:-20}
report_pages=${3:-700}
bin="$build/bin"
for tool in xsltproc weasyprint pdfinfo; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
port=${KAVELO_BENCH_PORT:-4717}
samples="$top/printcontrol/testdata"

# shellcheck source=bench/service_bench_lib.sh
. "$top/bench/service_bench_lib.sh"
bench_work warm-bench P
pdf_count() { find "$work/printers/P" -name '*.pdf' ! -name '.*' | wc -l; }

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)  ($(nproc) cores)"

# --- 1. the sales sample through the service ------------------------------
register_service

# Sends the sales sample COUNT + 1 times, each job as soon as the PDF of the
# one before is in the printer folder (polled in-process every 2 ms, so the
# watching costs the jobs next to no CPU), and waits for the last job's files
# to leave the spool folder, so that stopping the service never cuts a job
# short.  Prints "first median send-median cpu-service cpu-worker cpu-send"
# in seconds: the CPU figures are per job over the COUNT jobs after the
# first (the service with every child it reaped: print control, transform,
# orlendi; the worker; kavelo-send).
drive_jobs() {  # drive_jobs COUNT RUNTIME_FOLDER
  python3 - "$bin/kavelo-send" "$port" "$work/jobs/sales.xml" "$work/jobs/sales.xsl" \
    "$work/printers/P" "$work/spool" "$KAVELO_EVENTLOG" "$1" "$service_pid" "$2" <<'PY'
import os, resource, socket, statistics, struct, subprocess, sys, time
send, port, xml, xsl, printer, spool, events, count, service, run = sys.argv[1:11]
count = int(count)
tick = os.sysconf("SC_CLK_TCK")
def cpu(pid, children):
    try:
        fields = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    used = int(fields[11]) + int(fields[12])
    if children:
        used += int(fields[13]) + int(fields[14])
    return used / tick
def worker():
    s = socket.socket(socket.AF_UNIX)
    try:
        s.connect(run + "/render.sock")
        return struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0]
    except OSError:
        return 0
    finally:
        s.close()  # an empty request: the worker drops it
def pdfs():
    return sum(1 for n in os.listdir(printer) if n.endswith(".pdf") and not n.startswith("."))
def fail(why):
    print(why, file=sys.stderr)
    try:
        sys.stderr.write(open(events).read())
    except OSError:
        pass
    sys.exit(1)
def failed():
    try:
        return '"type":"error"' in open(events).read()
    except OSError:
        return False
totals, sends = [], []
for n in range(count + 1):
    if n == 1:
        helper = worker()
        before_cpu = (cpu(service, True), cpu(helper, False),
                      resource.getrusage(resource.RUSAGE_CHILDREN))
    before = pdfs()
    start = time.monotonic()
    subprocess.run([send, "--host", "127.0.0.1", "--port", port, "--options", "copies=1",
                    xml, xsl], check=True, stdout=subprocess.DEVNULL)
    sends.append(time.monotonic() - start)
    while pdfs() <= before:
        if failed():
            fail("the job failed:")
        if time.monotonic() - start > 30:
            fail("no PDF after 30 s")
        time.sleep(0.002)
    totals.append(time.monotonic() - start)
deadline = time.monotonic() + 30
while os.listdir(spool):
    if time.monotonic() > deadline:
        fail("the last job did not leave the spool folder in 30 s: %s"
             % " ".join(sorted(os.listdir(spool))))
    time.sleep(0.01)
# ... and the print control has been reaped, so that its CPU time counts
# (the next job's print control, waiting in standby, is no job's).
def children():
    def working(pid):
        try:
            return open("/proc/%s/comm" % pid).read().strip() != "Ostrevo-standby"
        except OSError:
            return False
    try:
        return any(working(pid)
                   for t in os.listdir("/proc/%s/task" % service)
                   for pid in open("/proc/%s/task/%s/children" % (service, t)).read().split())
    except OSError:
        return False
while children() and time.monotonic() < deadline:
    time.sleep(0.01)
sent = resource.getrusage(resource.RUSAGE_CHILDREN)
sent_cpu = (sent.ru_utime + sent.ru_stime - before_cpu[2].ru_utime - before_cpu[2].ru_stime)
print("%.4f %.4f %.4f %.4f %.4f %.4f" % (
    totals[0], statistics.median(totals[1:]), statistics.median(sends[1:]),
    (cpu(service, True) - before_cpu[0]) / count,
    (cpu(helper, False) - before_cpu[1]) / count if helper else 0.0, sent_cpu / count))
PY
}
service_jobs() {  # service_jobs RUNTIME_FOLDER COUNT OUT [COLD]: OUT gets drive_jobs' figures
  start_service "$1" ${4:-}
  drive_jobs "$2" "$1" >"$3"
  stop_service
  # Every job has printed: none may be left in the persisted queue, where
  # the next start would print it again.  One that is left is reported and
  # removed, so that the next part measures its own jobs.
  local left
  left=$("${run_as[@]}" "$bin/kavelo-reg" query "$key\\PrintQueue" 2>/dev/null |
    grep -c REG_SZ || true)
  if [ "$left" -gt 0 ]; then
    echo "warning: $left printed job(s) still in the persisted queue after the run" >&2
    "${run_as[@]}" "$bin/kavelo-reg" delete "$key\\PrintQueue" /f >/dev/null
  fi
}
# In this shell, not a subshell, so that the exit trap knows the service.
service_jobs "$work/run" "$jobs" "$work/warm.txt"
read -r warm_first warm_median send_s warm_cpu worker_cpu send_cpu <"$work/warm.txt"
service_jobs "$work/run-cold" "$((jobs / 2))" "$work/cold.txt" cold
read -r cold_first cold_median _ cold_cpu _ _ <"$work/cold.txt"
baseline=$(for _ in $(seq 1 "$((jobs / 2))"); do
  start=$(now)
  xsltproc -o "$work/jobs/base.html" "$work/jobs/sales.xsl" "$work/jobs/sales.xml"
  weasyprint "$work/jobs/base.html" "$work/jobs/base.pdf" 2>/dev/null
  since "$start"; echo
done | median)
printf '\nSales sample over TCP on the folder spooler, send to PDF, median seconds per job:\n'
printf '  warm (%d jobs after one that starts the worker: %.3f s)  %.3f s\n' \
  "$jobs" "$warm_first" "$warm_median"
printf '  cold, KAVELO_ORLENDI_COLD=1 (%d jobs)                   %.3f s\n' \
  "$((jobs / 2))" "$cold_median"
printf '  xsltproc + weasyprint command line (%d jobs)             %.3f s\n' \
  "$((jobs / 2))" "$baseline"
printf '  warm is %.1fx faster than xsltproc + weasyprint, %.1fx faster than cold\n' \
  "$(awk -v a="$baseline" -v b="$warm_median" 'BEGIN { print a / b }')" \
  "$(awk -v a="$cold_median" -v b="$warm_median" 'BEGIN { print a / b }')"
printf '  CPU seconds per job: warm %.3f in the service and its children + %.3f in the\n' \
  "$warm_cpu" "$worker_cpu"
printf '  worker (kavelo-send %.3f); cold %.3f in the service and its children\n' \
  "$send_cpu" "$cold_cpu"

# --- 2. where a warm job's time goes ---------------------------------------
# As this user from here on: a runtime folder of its own.
export KAVELO_ORLENDI_RUNTIME="$work/run-self"
mkdir -p "$work/self" && cd "$work/self"
cp "$samples/sales.xml" "$samples/sales.xsl" .
ostrevo_job() {  # ostrevo_job NAME COPIES PAGES: runs Ostrevo on NAME.xml, prints seconds
  local start
  cp "$work/jobs/$1.xml" "$1.xml"
  cp "$work/jobs/$1.xsl" "$1.xsl"
  start=$(now)
  "$work/bin/Ostrevo" "$work/bin/Ostrevo" \
    "xml=$PWD/$1.xml;xsl=$PWD/$1.xsl;fromPage=1;toPage=$3;printerName=P;copy=$2;orien=0"
  since "$start"
  echo
}
html_job="$work/self/page.html"
xsltproc -o "$html_job" "$samples/sales.xsl" "$samples/sales.xml"
ostrevo_job sales 1 3 >/dev/null  # starts this user's worker
ostrevo_s=$(for _ in $(seq 1 10); do ostrevo_job sales 1 3; done | median)
orlendi_s=$(for _ in $(seq 1 10); do
  start=$(now)
  "$work/bin/orlendi" orlendi orlendi "html=$html_job;printerName=P;copy=1;orien=1;"
  since "$start"; echo
done | median)
render_s=$(python3 - "$KAVELO_ORLENDI_RUNTIME/render.sock" "$html_job" "$work/self" <<'PY'
import socket, statistics, sys, time
sock, html, folder = sys.argv[1:4]
open(folder + "/page.css", "w").write("@page { size: A4 }")
times = []
for _ in range(10):
    start = time.time()
    s = socket.socket(socket.AF_UNIX)
    s.connect(sock)
    s.sendall(b"\0".join(x.encode() for x in (html, folder + "/page.css", folder + "/r.pdf",
                                              folder + "/r.err", "")) + b"\0")
    s.shutdown(socket.SHUT_WR)
    assert s.recv(8) == b"0"
    times.append(time.time() - start)
print("%.3f" % statistics.median(times))
PY
)
xslt_s=$(for _ in $(seq 1 10); do
  start=$(now)
  xsltproc -o "$work/self/x.html" "$samples/sales.xsl" "$samples/sales.xml"
  since "$start"; echo
done | median)
printf '\nOne warm sales job in parts (medians of 10, seconds):\n'
printf '  send to PDF through the service  %.3f\n' "$warm_median"
printf '  kavelo-send until queued         %.3f\n' "$send_s"
printf '  Ostrevo as a whole               %.3f\n' "$ostrevo_s"
printf '  orlendi as a whole               %.3f\n' "$orlendi_s"
printf '  the render alone (worker)        %.3f\n' "$render_s"
printf '  xsltproc of the same report      %.3f (Ostrevo transforms with Xalan-C)\n' "$xslt_s"
printf '  the print control'"'"'s own share (send to PDF - render)  %.3f\n' \
  "$(awk -v a="$warm_median" -v b="$render_s" 'BEGIN { print a - b }')"

# --- 3. a large report, split, 2 copies -------------------------------------
if [ "$report_pages" -gt 0 ]; then
python3 "$top/bench/make_report.py" "$report_pages" >"$work/jobs/big.xml"
cp "$samples/sales.xsl" "$work/jobs/big.xsl"
before=$(pdf_count)
big_warm=$(ostrevo_job big 2 "$report_pages")
chunks=$(( $(pdf_count) - before ))
big_cold=$(KAVELO_ORLENDI_COLD=1 ostrevo_job big 2 "$report_pages")
printf '\n%d-page report, 2 copies, %d PDFs (chunks x copies), Ostrevo total:\n' \
  "$report_pages" "$chunks"
printf '  warm %.1f s, cold %.1f s (%.2fx)\n' "$big_warm" "$big_cold" \
  "$(awk -v a="$big_cold" -v b="$big_warm" 'BEGIN { print a / b }')"
if grep -q '"type":"error"' "$KAVELO_EVENTLOG" 2>/dev/null; then
  echo "errors were reported:" && cat "$KAVELO_EVENTLOG"
fi

fi

# --- 4. the worker's memory over 500 documents ------------------------------
[ -n "${KAVELO_BENCH_SKIP_MEMORY:-}" ] && exit 0
end_worker "$KAVELO_ORLENDI_RUNTIME"
sleep 0.2
printf '\nWorker resident memory (VmRSS) by documents rendered (one orlendi each time\n'
printf 'no worker answers, the worker protocol otherwise; the sales sample):\n'
python3 - "$KAVELO_ORLENDI_RUNTIME" "$html_job" "$work/self" "$work/bin/orlendi" <<'PY'
import socket, struct, subprocess, sys
run, html, folder, orlendi = sys.argv[1:5]
open(folder + "/page.css", "w").write("@page { size: A4 }")
def worker():
    s = socket.socket(socket.AF_UNIX)
    try:
        s.connect(run + "/render.sock")
    except OSError:
        return None
    return s
def rss(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
pids = set()
for n in range(1, 501):
    s = worker()
    if s is None:
        subprocess.run([orlendi, "orlendi", "orlendi",
                        "html=%s;printerName=P;copy=1;orien=1;" % html], check=True)
        s = worker()
        if s is None:
            continue
        pid = struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0]
        s.close()
    else:
        pid = struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0]
        s.sendall(b"\0".join(x.encode() for x in (html, folder + "/page.css", folder + "/m.pdf",
                                                  folder + "/m.err", "")) + b"\0")
        s.shutdown(socket.SHUT_WR)
        assert s.recv(8) == b"0"
        s.close()
    pids.add(pid)
    if n in (10, 100, 190, 250, 500):
        try:
            kib = rss(pid)
        except OSError:
            kib = None
        print("  after %3d documents: %s KiB (worker pid %d)" % (n, kib, pid))
        if n == 10:
            first = kib
        if n == 500 and kib and first:
            print("  500 against 10: %+.1f%%; %d workers served the 500" %
                  (100.0 * (kib - first) / first, len(pids)))
PY
