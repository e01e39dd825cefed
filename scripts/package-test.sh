#!/usr/bin/env bash
# The package test (root): builds the Debian packages, checks them with
# lintian (no errors), installs them with dpkg, runs the installed service in
# the foreground under its account "kavelo" with a folder spooler, sends a job
# with the installed kavelo-send, waits for the PDF, stops the service, runs
# it again on a private CUPS scheduler (of which kavelo is no administrator)
# to print a split report held (scripts/held-report.sh), purges the packages
# and checks that nothing of them is left.  Whatever happens, the
# packages are purged at the end.
#   scripts/package-test.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in -h|--help) sed -n '2,8p' "$0"; exit 0 ;; esac

if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: skipped: installing a package needs root"
  exit 0
fi
# Never touch an installation or an account that is not this test's own.
if dpkg-query -W -f='${Status}' kavelo 2>/dev/null | grep -q 'installed' ||
   getent passwd kavelo >/dev/null || getent group kavelo >/dev/null; then
  echo "package-test: skipped: this machine already has the package or the account kavelo"
  exit 0
fi

step() { printf '\n== package-test: %s\n' "$*"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

step "build the packages"
debs=$("$top/scripts/package.sh" | grep '\.deb$')
service_deb=$(grep '/kavelo_[^/]*\.deb$' <<<"$debs")
console_deb=$(grep '/kavelo-console_[^/]*\.deb$' <<<"$debs" || true)
echo "$debs"

step "lintian"
# lintian warns about running as root; the packages are only read.
lintian --fail-on error --suppress-tags running-with-root-privileges $debs 2>&1 |
  grep -v 'running with root privileges' || true
lintian --fail-on error $debs >/dev/null 2>&1 || fail "lintian reports errors"

work=$(mktemp -d /tmp/kavelo-package-test.XXXXXX)
service_pid=""
cleanup() {
  status=$?
  if [ -n "$service_pid" ]; then
    kill -TERM "$service_pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$service_pid" 2>/dev/null || true
  fi
  [ -f "$work/cups/cupsd.pid" ] && "$top/scripts/cups-test-server.sh" stop "$work/cups" || true
  dpkg --purge kavelo-console kavelo >/dev/null 2>&1 || true
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

step "dpkg -i"
dpkg -i $service_deb $console_deb

step "what the installation made"
getent passwd kavelo | grep -q ':/nonexistent:/usr/sbin/nologin$' ||
  fail "the account kavelo is not a system account without home and shell: $(getent passwd kavelo)"
for folder in /var/lib/kavelo/registry /var/spool/kavelo; do
  [ "$(stat -c %U:%G "$folder")" = kavelo:kavelo ] || fail "$folder is not kavelo's"
done
key='HKLM\SYSTEM\CurrentControlSet\Services\Brelvane'
reg() { runuser -u kavelo -- /usr/bin/kavelo-reg "$@"; }
reg query "$key" /v ObjectName | grep -q 'REG_SZ    kavelo$' || fail "ObjectName is not kavelo"
reg query "$key\\Parameters" /v SpoolerDirectory | grep -q '/var/spool/kavelo$' ||
  fail "SpoolerDirectory is not /var/spool/kavelo"
reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ostrevo' >/dev/null ||
  fail "the event source of the print control is not registered"
[ -f /lib/systemd/system/brelvane.service ] || fail "no systemd unit"
[ ! -e /etc/systemd/system/brelvane.service ] || fail "Brelvane -RegServer wrote a unit over the package's"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify /lib/systemd/system/brelvane.service || fail "systemd-analyze verify"
fi
[ "$(/usr/sbin/Brelvane -Version | tail -n 1)" = "This service is currently installed" ] ||
  fail "Brelvane -Version does not find the installed service"
for page in man8/Brelvane.8 man1/kavelo-send.1 man1/kavelo-reg.1 man1/kavelo-jobs.1 man1/Ostrevo.1 \
            man1/orlendi.1; do
  [ -f "/usr/share/man/$page.gz" ] || fail "no manual page $page"
done
programs=(/opt/kavelo/PrintService/Brelvane /opt/kavelo/PrintService/Ostrevo
          /opt/kavelo/PrintService/orlendi /usr/bin/kavelo-reg /usr/bin/kavelo-send
          /usr/bin/kavelo-jobs)
[ -n "$console_deb" ] && programs+=(/usr/bin/BrelvaneConsole)
for program in "${programs[@]}"; do
  env -u DISPLAY "$program" --help >/dev/null || fail "$program --help"
done

step "run the installed service under kavelo, print a job on a folder spooler"
mkdir -p "$work/printers/Test"
printf 'Test' >"$work/printers/default"
chown -R kavelo:kavelo "$work"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
reg add "$key\\Parameters" /v Port /t REG_DWORD /d "$port" /f >/dev/null
events="$work/events.jsonl"
# Started by root, the service switches to its account before it opens its port.
env -u KAVELO_REGISTRY_DIR -u CUPS_SERVER KAVELO_SPOOLER="dir:$work/printers" \
  KAVELO_EVENTLOG="$events" /opt/kavelo/PrintService/Brelvane &
service_pid=$!
for _ in $(seq 1 150); do
  grep -q '"id":1,' "$events" 2>/dev/null && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '"id":1,' "$events" 2>/dev/null || { cat "$events" 2>/dev/null; fail "the service did not start"; }
user=$(ps -o user= -p "$service_pid")
[ "$user" = kavelo ] || fail "the service runs as '$user', not kavelo"
/usr/bin/kavelo-send --port "$port" --options "copies=1" \
  "$top/printcontrol/testdata/sales.xml" "$top/printcontrol/testdata/sales.xsl"
printed=""
for _ in $(seq 1 240); do
  printed=$(find "$work/printers/Test" -name '*.pdf' ! -name '.*' -print -quit)
  [ -n "$printed" ] && break
  grep -q '"type":"error"' "$events" && break
  sleep 0.5
done
[ -n "$printed" ] || { cat "$events"; fail "no PDF was printed"; }
[ "$(stat -c %U "$printed")" = kavelo ] || fail "the PDF was not printed by kavelo"
[ "$(stat -c %a "$events")" = 660 ] || fail "the event file is not shared with the group"
echo "printed: $printed ($(stat -c %s "$printed") bytes)"
# The installed kavelo-jobs finds the service's history with no argument.
for _ in $(seq 1 100); do
  env -u KAVELO_REGISTRY_DIR /usr/bin/kavelo-jobs --all | grep -q printed && break
  sleep 0.1
done
env -u KAVELO_REGISTRY_DIR /usr/bin/kavelo-jobs --all
env -u KAVELO_REGISTRY_DIR /usr/bin/kavelo-jobs --all | grep -q printed ||
  fail "kavelo-jobs --all does not list the printed job"

step "stop the service"
kill -TERM "$service_pid"
status=0
wait "$service_pid" || status=$?
service_pid=""
[ "$status" -eq 0 ] || fail "the service ended with exit code $status"

step "a split report held, as kavelo, on a private CUPS scheduler"
"$top/scripts/cups-test-server.sh" start "$work/cups" | tail -n 1
env -u KAVELO_REGISTRY_DIR KAVELO_SPOOLER=cups CUPS_SERVER="$work/cups/cups.sock" \
  KAVELO_EVENTLOG="$events" /opt/kavelo/PrintService/Brelvane &
service_pid=$!
for _ in $(seq 1 150); do
  [ "$(grep -c '"id":1,' "$events")" -ge 2 ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
[ "$(grep -c '"id":1,' "$events")" -ge 2 ] || { cat "$events"; fail "the service did not start on CUPS"; }
"$top/scripts/held-report.sh" /usr/bin/kavelo-send "$port" "$work/cups" kavelo /var/spool/kavelo ||
  { cat "$events"; fail "the split report was not printed held"; }
kill -TERM "$service_pid"
status=0
wait "$service_pid" || status=$?
service_pid=""
[ "$status" -eq 0 ] || fail "the service ended with exit code $status"
"$top/scripts/cups-test-server.sh" stop "$work/cups"

step "dpkg --purge"
dpkg --purge kavelo-console kavelo
left=()
for path in /opt/kavelo /usr/sbin/Brelvane /usr/bin/kavelo-reg /usr/bin/kavelo-send /usr/bin/kavelo-jobs \
            /usr/bin/BrelvaneConsole \
            /var/lib/kavelo /var/spool/kavelo /lib/systemd/system/brelvane.service \
            /etc/systemd/system/brelvane.service \
            /etc/systemd/system/multi-user.target.wants/brelvane.service \
            /usr/share/man/man8/Brelvane.8.gz /usr/share/doc/kavelo; do
  [ -e "$path" ] || [ -L "$path" ] && left+=("$path")
done
getent passwd kavelo >/dev/null && left+=("the account kavelo")
getent group kavelo >/dev/null && left+=("the group kavelo")
[ ${#left[@]} -eq 0 ] || fail "left after purge: ${left[*]}"
echo "package-test: passed"
