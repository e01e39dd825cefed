#!/usr/bin/env bash
# Brings the print system up on this machine and prints one sample job:
# installs what is missing, builds, registers the service Brelvane in a
# private registry folder, points it at a folder spooler and a spool folder,
# runs it in the foreground (in this script's background), sends a sample
# report with kavelo-send and waits for the printed PDF.  As root it then
# prints a split report held on a private CUPS scheduler (scripts/held-report.sh).
#
#   scripts/demo.sh [--no-install] [--port PORT] [--dir FOLDER] [--keep]
#
# Everything the demo makes lives in FOLDER (default /tmp/kavelo-demo): the
# registry, the event log (events.jsonl), the spool folder and the printer
# folder printers/DemoPrinter, where the printed PDF appears.  The service is
# stopped with SIGTERM at the end; --keep leaves FOLDER in place afterwards
# (it is kept anyway, for inspection, and cleared at the next run).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
install=1
port=4000
demo=/tmp/kavelo-demo
while [ $# -gt 0 ]; do
  case "$1" in
    --no-install) install=0; shift ;;
    --port) port="$2"; shift 2 ;;
    --dir) demo="$2"; shift 2 ;;
    --keep) shift ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "demo: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done

step() { printf '\n==> %s\n' "$*"; }
fail() { printf 'demo: %s\n' "$*" >&2; exit 1; }

step "1. Packages (scripts/install-deps.sh)"
if [ "$install" = 1 ]; then "$top/scripts/install-deps.sh"; else echo "skipped (--no-install)"; fi

step "2. Build (scripts/build.sh)"
build=$("$top/scripts/build.sh" | tail -1)
bin="$build/bin"
for program in Brelvane kavelo-reg kavelo-send; do
  [ -x "$bin/$program" ] || fail "$bin/$program was not built"
done

step "3. A private world in $demo"
service_pid=""
cleanup() {
  if [ -n "$service_pid" ] && kill -0 "$service_pid" 2>/dev/null; then
    kill -TERM "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  [ -f "$demo/cups/cupsd.pid" ] && "$top/scripts/cups-test-server.sh" stop "$demo/cups" || true
}
trap cleanup EXIT
rm -rf "$demo"
mkdir -p "$demo"/{registry,spool,printers/DemoPrinter,bin,home}
printf 'DemoPrinter' >"$demo/printers/default"
export KAVELO_REGISTRY_DIR="$demo/registry"
export KAVELO_EVENTLOG="$demo/events.jsonl"
export KAVELO_SPOOLER="dir:$demo/printers"
echo "KAVELO_REGISTRY_DIR=$KAVELO_REGISTRY_DIR"
echo "KAVELO_EVENTLOG=$KAVELO_EVENTLOG"
echo "KAVELO_SPOOLER=$KAVELO_SPOOLER   (default printer: DemoPrinter)"

# The service never runs as root (the system account): started by root it
# switches to its account, here the unprivileged user "nobody", which must
# reach the demo folder.  The programs are copied into the demo folder so
# that this user can reach them wherever the tree lives.
if [ "$(id -u)" -eq 0 ]; then
  account=nobody
  echo "Running as root: the service switches to the user '$account' as it starts."
else
  account=$(id -un)
fi
for program in Brelvane Ostrevo orlendi; do
  [ -x "$bin/$program" ] && cp "$bin/$program" "$demo/bin/"
done
print_control="$demo/bin/Ostrevo"
if [ ! -x "$print_control" ]; then
  # Until the print control is built, a stand-in records the job it gets.
  echo "Ostrevo is not built yet: a stand-in print control records each job in $demo/jobs.log."
  cat >"$print_control" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>'$demo/jobs.log'
EOF
  chmod 755 "$print_control"
fi

step "4. Register the service (Brelvane -RegServer) and configure it"
"$top/scripts/register-service.sh" "$bin/kavelo-reg" "$demo/bin/Brelvane" "$account" "$port" \
  "$demo/spool" "$print_control"
key='HKLM\SYSTEM\CurrentControlSet\Services\Brelvane'
"$bin/kavelo-reg" query "$key" /s
[ "$(id -u)" -eq 0 ] && chown -R "$account:" "$demo"

step "5. Start Brelvane in the foreground (it runs as $account, in this script's background)"
HOME="$demo/home" "$demo/bin/Brelvane" &
service_pid=$!
event_ids() { grep -o '"id":[0-9]*' "$KAVELO_EVENTLOG" 2>/dev/null | cut -d: -f2 | tr '\n' ' '; }
for _ in $(seq 1 150); do
  case " $(event_ids)" in *" 1 "*|*" 2 "*) break ;; esac
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
case " $(event_ids)" in
  *" 1 "*)
    uid=$(awk '/^Uid:/ {print $3}' "/proc/$service_pid/status")
    echo "Brelvane runs (pid $service_pid, user $(getent passwd "$uid" | cut -d: -f1)) on port $port." ;;
  *) cat "$KAVELO_EVENTLOG" 2>/dev/null; fail "the service did not start (events above)" ;;
esac

step "6. Send a sample job with kavelo-send"
samples="$top/printcontrol/testdata"
[ -f "$samples/sales.xml" ] || fail "the sample report $samples/sales.xml is missing"
"$bin/kavelo-send" --port "$port" --options "copies=1,orientation=1,frompage=1,topage=3" \
  "$samples/sales.xml" "$samples/sales.xsl"

step "7. Wait for the printed document in $demo/printers/DemoPrinter"
# The print control deletes the spooled files when it ends; a job whose
# files are gone without a document has been through the print control.
printed=""
handled=""
for _ in $(seq 1 240); do
  # Documents are written under a hidden temporary name and linked in whole.
  printed=$(find "$demo/printers/DemoPrinter" -name '*.pdf' ! -name '.*' -print -quit)
  [ -n "$printed" ] && break
  [ -s "$demo/jobs.log" ] && break
  grep -q '"type":"error"' "$KAVELO_EVENTLOG" && break  # the print failed: see the events
  if [ -z "$(find "$demo/spool" -name '*.xml' -print -quit)" ]; then
    [ -n "$handled" ] && break  # gone for a second: the print control has ended
    handled=yes
  fi
  sleep 0.5
done
if [ -n "$printed" ]; then
  echo "Printed: $printed"
  command -v pdfinfo >/dev/null && pdfinfo "$printed" | grep -E '^(Pages|Page size):'
  ls -l "$demo/printers/DemoPrinter"
elif [ -s "$demo/jobs.log" ]; then
  echo "The job reached the print control with this command line:"
  cat "$demo/jobs.log"
elif [ -n "$handled" ]; then
  echo "The job reached the print control, which ended without printing a document"
  echo "(its print loop may not be built yet). The events so far:"
  cat "$KAVELO_EVENTLOG"
else
  echo "No printed document appeared; the events so far:"
  cat "$KAVELO_EVENTLOG"
fi

step "8. Stop the service (SIGTERM)"
kill -TERM "$service_pid"
wait "$service_pid" && status=0 || status=$?
service_pid=""
echo "Brelvane ended with exit code $status. Events ($KAVELO_EVENTLOG):"
sed 's/.*"id":\([0-9]*\).*"message":"\(.*\)"}$/  \1  \2/' "$KAVELO_EVENTLOG"
[ -n "$printed" ] || [ -s "$demo/jobs.log" ] || [ -n "$handled" ] || exit 1

step "9. A split report printed held, as $account, on a private CUPS scheduler"
if [ "$(id -u)" -ne 0 ] || ! { command -v cupsd || [ -x /usr/sbin/cupsd ]; } >/dev/null; then
  echo "skipped: the private scheduler needs root and cupsd"
  exit 0
fi
# root administers the scheduler; $account does not, as on a stock one.
"$top/scripts/cups-test-server.sh" start "$demo/cups" | tail -n 1
KAVELO_SPOOLER=cups CUPS_SERVER="$demo/cups/cups.sock" HOME="$demo/home" "$demo/bin/Brelvane" &
service_pid=$!
for _ in $(seq 1 150); do
  [ "$(grep -c '"id":1,' "$KAVELO_EVENTLOG")" -ge 2 ] && break
  sleep 0.1
done
"$top/scripts/held-report.sh" "$bin/kavelo-send" "$port" "$demo/cups" "$account" "$demo/spool"
kill -TERM "$service_pid"
wait "$service_pid" || true
service_pid=""
