#!/usr/bin/env bash
# A large legitimate report through the real print control inside its
# default limits (platform/print_limits.h), with the figures the limits are
# chosen from:
#   - wall time of the whole job and of its whole-report transform;
#   - peak address space (VmPeak) and resident memory (VmHWM) of Ostrevo,
#     its transform process, orlendi and the WeasyPrint renderer;
#   - the largest HTML file against the report (the HtmlSizeFactor);
#   - the events (there must be none) and the PDFs printed.
# The report is made by make_report.py; the folder spooler prints into a
# private folder under /tmp that is deleted at the end.
#
# usage: bench/limits_bench.sh [BUILD_DIR] [PAGES]     defaults: build, 7000
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
pages=${2:-7000}
bin="$build/bin"
[ -x "$bin/Ostrevo" ] || { echo "build first: $bin/Ostrevo is missing" >&2; exit 1; }

work=$(mktemp -d /tmp/kavelo-limits-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/spool" "$work/printers/PDF" "$work/registry"
export KAVELO_REGISTRY_DIR="$work/registry" KAVELO_EVENTLOG="$work/events.jsonl"
export KAVELO_SPOOLER="dir:$work/printers"
python3 "$top/bench/make_report.py" "$pages" >"$work/spool/00000001.xml"
cp "$top/printcontrol/testdata/sales.xsl" "$work/spool/00000001.xsl"
xml_bytes=$(stat -c %s "$work/spool/00000001.xml")
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)  ($(nproc) cores)"
echo "report: $pages pages, $xml_bytes bytes"

python3 - "$work" "$bin/Ostrevo" "$pages" "$xml_bytes" <<'PY'
import json, os, subprocess, sys, time
work, ostrevo, pages, xml_bytes = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
spool = work + "/spool"
cmd = [ostrevo, ostrevo, "xml=%s/00000001.xml;xsl=%s/00000001.xsl;fromPage=1;toPage=%s;"
       "printerName=PDF;copy=1;orien=0" % (spool, spool, pages)]
start = time.time()
p = subprocess.Popen(cmd)
peaks, html, first_pdf = {}, 0, None

def tree(pid):
    out = [pid]
    try:
        for t in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/children" % (pid, t)) as f:
                for c in f.read().split():
                    out += tree(int(c))
    except OSError:
        pass
    return out

while p.poll() is None:
    for pid in tree(p.pid):
        try:
            st = open("/proc/%d/status" % pid).read().splitlines()
        except OSError:
            continue
        f = {l.split(":")[0]: l.split(":", 1)[1].split() for l in st}
        # The transform is a child of Ostrevo with Ostrevo's name.
        name = f["Name"][0] + (" (transform)" if f["Name"][0] == "Ostrevo" and pid != p.pid else "")
        if name.startswith("python"):
            name = "WeasyPrint"
        old = peaks.get(name, (0, 0))
        peaks[name] = (max(old[0], int(f.get("VmPeak", [0])[0])), max(old[1], int(f.get("VmHWM", [0])[0])))
    for root, _, names in os.walk(spool):
        for n in names:
            if n.endswith(".html"):
                try:
                    html = max(html, os.path.getsize(os.path.join(root, n)))
                except OSError:
                    pass
    if first_pdf is None and any(n.endswith(".pdf") for n in os.listdir(work + "/printers/PDF")):
        first_pdf = time.time() - start
    time.sleep(0.1)
wall = time.time() - start
pdfs = [n for n in os.listdir(work + "/printers/PDF") if n.endswith(".pdf")]
events = open(work + "/events.jsonl").read().splitlines() if os.path.exists(work + "/events.jsonl") else []
left = [os.path.join(r, n) for r, _, ns in os.walk(spool) for n in ns]
print("whole job: %.1f s; first PDF after %.1f s (transform, split, first chunk)" % (wall, first_pdf or 0))
for name, (peak, hwm) in sorted(peaks.items()):
    print("  %-22s VmPeak %7.1f MiB  VmHWM %7.1f MiB" % (name, peak / 1024, hwm / 1024))
print("largest HTML file: %d bytes, %.2f x the report" % (html, html / xml_bytes))
print("PDFs printed: %d; events: %d; files left in the spool folder: %d" % (len(pdfs), len(events), len(left)))
for e in events:
    print("  " + json.loads(e)["message"])
sys.exit(0 if pdfs and not events and not left else 1)
PY
