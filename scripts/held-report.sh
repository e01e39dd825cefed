#!/usr/bin/env bash
# Prints a split report held, as the service's account, and shows it: sends
# a 900-page report (six chunks) with two copies to the running service on
# PORT whose spooler is the private CUPS scheduler in CUPSDIR
# (scripts/cups-test-server.sh, its stopped queue kavelo-held keeps every
# job), waits until the print control has ended, shows the queue and the
# scheduler's access log of the account, and checks that every chunk job
# was held until the account released it (CUPS releases only a held job),
# that none is held any more and that the account was no spooler
# administrator (its Resume-Printer was refused).  Exit 1 when not.
#   scripts/held-report.sh KAVELO_SEND PORT CUPSDIR ACCOUNT SPOOLDIR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 5 ] || { sed -n '2,11p' "$0" >&2; exit 2; }
send=$1 port=$2 cups=$3 account=$4 spool=$5
fail() { echo "held-report: FAILED: $*" >&2; exit 1; }
sock="$cups/cups.sock"
log="$cups/log/access_log"
report=$(mktemp /tmp/kavelo-held-report.XXXXXX.xml)
trap 'rm -f "$report"' EXIT
python3 "$top/bench/make_report.py" 900 >"$report"
chmod 644 "$report"
before=$(wc -l <"$log")
"$send" --port "$port" --options "printer=kavelo-held,copies=2" \
  "$report" "$top/printcontrol/testdata/sales.xsl"
# The print control has ended once the spooled report is gone.
for _ in $(seq 1 600); do
  [ -z "$(find "$spool" -maxdepth 1 -name '*.xml' -print -quit)" ] && break
  sleep 0.5
done
[ -z "$(find "$spool" -maxdepth 1 -name '*.xml' -print -quit)" ] || fail "the print control did not end"
echo "The queue kavelo-held (stopped, so the jobs stay), in print order:"
lpstat -h "$sock" -o kavelo-held
echo "The scheduler's access log of this report, by request and answer:"
tail -n +"$((before + 1))" "$log" | awk '{print $3, $9, $11, $12}' | sort | uniq -c
jobs=$(lpstat -h "$sock" -o kavelo-held | grep -c " $account " || true)
released=$(tail -n +"$((before + 1))" "$log" |
  grep -c " $account .*Release-Job successful-ok" || true)
held=$(lpstat -h "$sock" -l -o kavelo-held | grep -c 'job-hold-until-specified' || true)
[ "$jobs" -ge 2 ] || fail "the report was not printed in chunks ($jobs jobs of $account)"
[ "$released" -eq "$jobs" ] || fail "$released of $jobs chunk jobs were held and released"
[ "$held" -eq 0 ] || fail "$held jobs are still held"
tail -n +"$((before + 1))" "$log" | grep -q " $account .* 403 .*Resume-Printer" ||
  fail "$account was not refused Resume-Printer: is it a spooler administrator?"
echo "held-report: $jobs chunk jobs of $account, each held until $account released it; none held now"
