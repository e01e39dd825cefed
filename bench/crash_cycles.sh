#!/usr/bin/env bash
# Kills the real service with SIGKILL at random moments while clients send
# jobs, restarts it, and at the end counts what became of every job:
#   acknowledged  jobs the service answered with final status 0 (queued)
#   delivered     jobs whose report reached the print control
#   lost          acknowledged jobs never delivered (must be 0)
#   duplicated    jobs delivered more than once
#
#   bench/crash_cycles.sh [BUILD_DIR]        (as root)
#
# Environment: KAVELO_CRASH_CYCLES (200), KAVELO_CRASH_CLIENTS (4),
# KAVELO_CRASH_MAX_MS (1200: a kill comes 0 .. this many ms after the start),
# KAVELO_CRASH_LIMIT (900: seconds for the kill cycles; fewer cycles run when
# it is reached), KAVELO_CRASH_PRINT_MS (100: how long the stand-in print
# control takes), KAVELO_CRASH_BACKLOG (40: clients pause while more
# acknowledged jobs than this wait for their print).
#
# Everything runs in a private network namespace (only its loopback exists),
# with a private registry, spool folder and folder spooler below a temporary
# folder that is removed at the end.  The service runs as "nobody" (it
# refuses root).  The print control is a stand-in: it reads the job id
# written in the report, "prints" for a while, records the id and deletes
# the job's two spool files as the real print control does; everything
# before it (intake, durable queue, re-queue at the restart, dispatch) is
# the real service.  A killed service leaves a running print control alone
# (it has its own process group), so a job whose print control had started
# is delivered.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)

[ "$(id -u)" -eq 0 ] || { echo "crash_cycles: run as root" >&2; exit 2; }
for program in Brelvane kavelo-send kavelo-reg; do
  [ -x "$build/bin/$program" ] || { echo "crash_cycles: build $build/bin/$program first" >&2; exit 2; }
done
if [ -z "${KAVELO_CRASH_NETNS:-}" ]; then
  export KAVELO_CRASH_NETNS=1
  exec unshare --net -- bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$build"
fi

cycles=${KAVELO_CRASH_CYCLES:-200}
clients=${KAVELO_CRASH_CLIENTS:-4}
max_ms=${KAVELO_CRASH_MAX_MS:-1200}
limit=${KAVELO_CRASH_LIMIT:-900}
print_ms=${KAVELO_CRASH_PRINT_MS:-100}
backlog=${KAVELO_CRASH_BACKLOG:-40}
port=4000
account=nobody

work=$(mktemp -d /tmp/kavelo-crash.XXXXXX)
service_pid=""
client_pids=()
cleanup() {
  touch "$work/stop"
  [ -n "$service_pid" ] && kill -KILL "$service_pid" 2>/dev/null || true
  for pid in "${client_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
mkdir -p "$work"/{registry,spool,printers/P,bin,home,jobs}
printf 'P' >"$work/printers/default"
: >"$work/delivered.log"
cp "$build/bin/Brelvane" "$work/bin/"
export KAVELO_REGISTRY_DIR="$work/registry"
export KAVELO_EVENTLOG="$work/events.jsonl"
export KAVELO_SPOOLER="dir:$work/printers"

# The stand-in print control: "PROGRAM" "PROGRAM" xml=X;xsl=Y;...
cat >"$work/bin/Ostrevo" <<EOF
#!/bin/sh
line="\$*"
xml=\${line#*xml=}; xml=\${xml%%;*}
xsl=\${line#*;xsl=}; xsl=\${xsl%%;*}
id=\$(sed -n 's:.*<job_id>\(.*\)</job_id>.*:\1:p' "\$xml" 2>/dev/null | head -n 1)
[ -n "\$id" ] && sleep $((print_ms / 1000)).$(printf '%03d' $((print_ms % 1000)))
printf '%s\n' "\${id:-gone}" >>'$work/delivered.log'
rm -f "\$xml" "\$xsl"
EOF
chmod 755 "$work/bin/Ostrevo"
printf '<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"/>\n' \
  >"$work/jobs/style.xsl"

key='HKLM\SYSTEM\CurrentControlSet\Services\Brelvane'
"$top/scripts/register-service.sh" "$build/bin/kavelo-reg" "$work/bin/Brelvane" "$account" \
  "$port" "$work/spool" "$work/bin/Ostrevo" >/dev/null
"$build/bin/kavelo-reg" add "$key\\Parameters" /v Timeout /t REG_DWORD /d 10000 /f >/dev/null
chown -R "$account:" "$work"
run_as=(setpriv --reuid="$(id -u $account)" --regid="$(id -g $account)" --clear-groups --)

listening() { [ -n "$(ss -Hltn "sport = :$port")" ]; }
start_service() {
  "${run_as[@]}" env HOME="$work/home" "$work/bin/Brelvane" >>"$work/service.out" 2>&1 &
  service_pid=$!
}
# Waits up to 15 s for the port; false when the service did not come up.
wait_listening() {
  for _ in $(seq 1 300); do
    listening && return 0
    kill -0 "$service_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}
queued_values() {
  "$build/bin/kavelo-reg" query "$key\\PrintQueue" 2>/dev/null | grep -c REG_SZ || true
}

# Acknowledged jobs not yet printed (the queue dispatches one job at a time,
# slower than four clients send).
waiting_jobs() {
  echo $(($(cat "$work"/acked.* 2>/dev/null | wc -l) - $(grep -vc '^gone$' "$work/delivered.log")))
}
# One client: jobs one after the other, each with a unique id in its report.
client() {
  local c=$1 i=0 id status
  while [ ! -e "$work/stop" ]; do
    if [ "$(waiting_jobs)" -gt "$backlog" ]; then
      sleep 0.1
      continue
    fi
    id="c$c-$i"
    i=$((i + 1))
    printf '<?xml version="1.0"?>\n<report>\n<report_info>\n<title>%s</title>\n</report_info>\n<job_id>%s</job_id>\n</report>\n' \
      "$id" "$id" >"$work/jobs/$c.xml"
    status=0
    "$build/bin/kavelo-send" --host 127.0.0.1 --port "$port" --timeout 10 \
      --options "copies=1,frompage=1,topage=1" "$work/jobs/$c.xml" "$work/jobs/style.xsl" \
      >/dev/null 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
      echo "$id" >>"$work/acked.$c"
    else
      echo "$id $status" >>"$work/failed.$c"
      sleep 0.05  # the service is down: do not spin
    fi
  done
}

started=$(date +%s)
start_service
wait_listening || { cat "$KAVELO_EVENTLOG" "$work/service.out" >&2; echo "crash_cycles: the service did not start" >&2; exit 1; }
for c in $(seq 1 "$clients"); do
  client "$c" &
  client_pids+=($!)
done

done_cycles=0
no_listen=0
for cycle in $(seq 1 "$cycles"); do
  [ $(($(date +%s) - started)) -lt "$limit" ] || break
  # A kill 0 .. max_ms after the start: some land in the start-up and the
  # re-queue, most in intake and dispatch.
  delay=$((RANDOM % max_ms))
  sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
  kill -KILL "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
  done_cycles=$cycle
  start_service
  wait_listening || no_listen=$((no_listen + 1))
done
cycle_seconds=$(($(date +%s) - started))

# The clients stop; the last start prints what is still queued.
touch "$work/stop"
for pid in "${client_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
client_pids=()
drain_started=$(date +%s)
last=-1
for _ in $(seq 1 600); do
  now=$(wc -l <"$work/delivered.log")
  [ "$(queued_values)" -eq 0 ] && [ "$now" -eq "$last" ] && break
  last=$now
  sleep 0.5
done
kill -TERM "$service_pid" 2>/dev/null || true
for _ in $(seq 1 100); do kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$service_pid" 2>/dev/null || true
wait "$service_pid" 2>/dev/null || true
service_pid=""
drain_seconds=$(($(date +%s) - drain_started))

cat "$work"/acked.* 2>/dev/null | sort -u >"$work/acked"
cat "$work"/failed.* 2>/dev/null | cut -d' ' -f1 | sort -u >"$work/failed"
grep -v '^gone$' "$work/delivered.log" | sort >"$work/delivered.all" || true
sort -u "$work/delivered.all" >"$work/delivered"
acked=$(wc -l <"$work/acked")
failed=$(wc -l <"$work/failed")
delivered=$(wc -l <"$work/delivered")
lost=$(comm -23 "$work/acked" "$work/delivered" | wc -l)
duplicated=$(uniq -d "$work/delivered.all" | wc -l)
unacked_delivered=$(comm -13 "$work/acked" "$work/delivered" | wc -l)
gone=$(grep -c '^gone$' "$work/delivered.log" || true)
requeue_events=$(grep -c '"id":18,' "$KAVELO_EVENTLOG" || true)
left=$(queued_values)

printf 'crash_cycles: %d kill -9 cycles in %d s, %d clients, kill 0..%d ms after each start, print %d ms\n' \
  "$done_cycles" "$cycle_seconds" "$clients" "$max_ms" "$print_ms"
printf '  then %d s for the clients to end and the last start to print the queue\n' "$drain_seconds"
[ "$no_listen" -eq 0 ] || printf '  restarts that did not listen within 15 s: %d\n' "$no_listen"
printf '  acknowledged  %6d   (final status 0)\n' "$acked"
printf '  not acked     %6d   (refused, or the connection died with the service)\n' "$failed"
printf '  delivered     %6d   (distinct jobs that reached the print control; %d of them never acknowledged)\n' \
  "$delivered" "$unacked_delivered"
printf '  lost          %6d   (acknowledged, never delivered)\n' "$lost"
printf '  duplicated    %6d   (delivered more than once)\n' "$duplicated"
printf '  gone          %6d   (print control started again after its files were deleted)\n' "$gone"
printf '  re-queues     %6d   (starts that re-queued persisted jobs, message 18)\n' "$requeue_events"
if [ "$left" -gt 0 ]; then
  printf '  still queued  %6d   (the final drain did not finish: lost counts them)\n' "$left"
  exit 1
fi
if [ "$lost" -gt 0 ]; then
  echo "  lost jobs: $(comm -23 "$work/acked" "$work/delivered" | head -n 20 | tr '\n' ' ')"
  exit 1
fi
