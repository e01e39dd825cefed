#!/usr/bin/env bash
# Two services behind HAProxy, printing into one CUPS queue (root):
#   1. 200 sales jobs from 4 clients at once: each service takes a fair share
#      and every job prints exactly once;
#   2. kill -9 one service while jobs flow: HAProxy stops routing to it within
#      its check interval, no acknowledged job is lost (the killed service's
#      queued jobs print once it is started again), and a job prints twice
#      only when its acknowledgement was cut;
#   3. SIGTERM one service while jobs flow (drain): it leaves the rotation
#      before it stops listening, so no client sees a refused connection.
# Each node has its own registry, spool folder, intake and status port and
# runs as the unprivileged account nobody; HAProxy checks GET /health on the
# status ports and passes each client's address with the PROXY protocol v2.
# Prints one line of figures per phase and exits non-zero on any loss.
#
#   scripts/cluster-test.sh [BUILD_DIR]
# CUPS_SERVER names the scheduler (scripts/test.sh starts a private one);
# without it the script starts its own with scripts/cups-test-server.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in -h|--help) sed -n '2,18p' "$0"; exit 0 ;; esac
build=${1:-$top/build}
jobs_per_phase=${KAVELO_CLUSTER_JOBS:-200}
clients=4
account=nobody

if [ "$(id -u)" -ne 0 ]; then
  echo "cluster-test: skipped: the services switch to their account, which needs root"
  exit 0
fi
command -v haproxy >/dev/null || PATH=$PATH:/usr/sbin
command -v haproxy >/dev/null || { echo "cluster-test: FAILED: haproxy is not installed" >&2; exit 1; }

fail() { echo "cluster-test: FAILED: $*" >&2; exit 1; }
say() { printf '== cluster-test: %s\n' "$*"; }

work=$(mktemp -d /tmp/kavelo-cluster.XXXXXX)
chmod 0755 "$work"
own_cups=""
haproxy_pid=""
declare -A node_pid=()
cleanup() {
  local status=$?
  for n in "${!node_pid[@]}"; do
    kill -TERM "${node_pid[$n]}" 2>/dev/null || true
  done
  for n in "${!node_pid[@]}"; do
    for _ in $(seq 1 100); do kill -0 "${node_pid[$n]}" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "${node_pid[$n]}" 2>/dev/null || true
  done
  [ -n "$haproxy_pid" ] && kill "$haproxy_pid" 2>/dev/null || true
  # The warm renderers the nodes' orlendi started (their pid from the
  # socket's peer credentials).
  for n in 1 2; do
    python3 -c 'import os, socket, struct, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])
os.kill(struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0], 9)' \
      "$work/node$n/run/render.sock" 2>/dev/null || true
  done
  if [ -n "${CUPS_SERVER:-}" ]; then
    lpadmin -h "$CUPS_SERVER" -x kavelo-cluster 2>/dev/null || true
  fi
  [ -n "$own_cups" ] && "$top/scripts/cups-test-server.sh" stop "$own_cups" >/dev/null 2>&1 || true
  if [ $status -ne 0 ]; then
    for n in 1 2; do
      [ -f "$work/node$n/events.jsonl" ] && tail -n 20 "$work/node$n/events.jsonl" | sed "s/^/node$n: /" >&2
    done
    [ -f "$work/haproxy.log" ] && tail -n 20 "$work/haproxy.log" >&2
  fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# The scheduler and the cluster's own print queue: stopped, so that every
# job the nodes print stays in the scheduler with its document, to be read.
if [ -z "${CUPS_SERVER:-}" ]; then
  own_cups="$work/cups"
  CUPS_SERVER=$("$top/scripts/cups-test-server.sh" start "$own_cups" | tail -n 1)
fi
export CUPS_SERVER
cups_dir=$(dirname "$CUPS_SERVER")
lpadmin -h "$CUPS_SERVER" -p kavelo-cluster -v file:///dev/null -P "$cups_dir/kavelo-pdf.ppd" -E
cupsdisable -h "$CUPS_SERVER" kavelo-cluster

# The programs, where the account can reach them.
mkdir -p "$work/bin"
for program in Brelvane Ostrevo orlendi kavelo-reg kavelo-send kavelo-jobs; do
  [ -x "$build/bin/$program" ] && cp "$build/bin/$program" "$work/bin/"
done
bin="$work/bin"

front=$(free_port)
declare -A intake_port=() status_port=()
node_env() {
  local n=$1
  echo "KAVELO_REGISTRY_DIR=$work/node$n/registry KAVELO_EVENTLOG=$work/node$n/events.jsonl" \
    "KAVELO_SPOOLER=cups KAVELO_ORLENDI_RUNTIME=$work/node$n/run HOME=$work/node$n/home"
}
setup_node() {
  local n=$1 key='HKLM\SYSTEM\CurrentControlSet\Services\Brelvane'
  mkdir -p "$work/node$n"/{registry,spool,home,run}
  intake_port[$n]=$(free_port)
  status_port[$n]=$(free_port)
  (
    export $(node_env "$n")
    "$top/scripts/register-service.sh" "$bin/kavelo-reg" "$bin/Brelvane" "$account" \
      "${intake_port[$n]}" "$work/node$n/spool" "$bin/Ostrevo" >/dev/null
    reg() { "$bin/kavelo-reg" "$@" >/dev/null; }
    reg add "$key\\Parameters" /v UseDefaultPrinter /t REG_DWORD /d 0 /f
    reg add "$key\\Parameters" /v PrinterName /d kavelo-cluster /f
    reg add "$key\\Parameters" /v StatusPort /t REG_DWORD /d "${status_port[$n]}" /f
    reg add "$key\\Parameters" /v TrustedProxies /t REG_MULTI_SZ /d 127.0.0.1 /f
    reg add "$key\\Parameters" /v DrainSeconds /t REG_DWORD /d 2 /f
  )
  chown -R "$account:" "$work/node$n"
  # orlendi keeps its warm renderer only in a folder no one else may enter.
  chmod 0700 "$work/node$n/run"
}
start_node() {
  local n=$1
  (
    export $(node_env "$n")
    exec "$bin/Brelvane" </dev/null >>"$work/node$n/stdout" 2>&1
  ) &
  node_pid[$n]=$!
  for _ in $(seq 1 100); do
    curl -fsS "http://127.0.0.1:${status_port[$n]}/health" >/dev/null 2>&1 && return 0
    kill -0 "${node_pid[$n]}" 2>/dev/null || break
    sleep 0.1
  done
  fail "node $n did not start"
}
for n in 1 2; do setup_node "$n"; start_node "$n"; done

# HAProxy: TCP to the intake ports, HTTP checks on the status ports, the
# client's address passed on with the PROXY protocol v2.  A connection that
# a node refuses is dispatched again to the other.
check_ms=300
cat >"$work/haproxy.cfg" <<EOF
global
  maxconn 2000
  stats socket $work/haproxy.sock mode 600 level admin
defaults
  mode tcp
  timeout connect 2s
  timeout client 120s
  timeout server 120s
  retries 2
  option redispatch
frontend intake
  bind 127.0.0.1:$front
  default_backend nodes
backend nodes
  balance roundrobin
  option httpchk GET /health
  default-server inter ${check_ms}ms fastinter ${check_ms}ms fall 2 rise 2 send-proxy-v2
  server node1 127.0.0.1:${intake_port[1]} check port ${status_port[1]}
  server node2 127.0.0.1:${intake_port[2]} check port ${status_port[2]}
EOF
haproxy -f "$work/haproxy.cfg" -db >"$work/haproxy.log" 2>&1 &
haproxy_pid=$!
server_state() {  # node -> UP, DOWN, ...
  python3 - "$work/haproxy.sock" "$1" <<'EOF'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(b"show stat\n")
data = b""
while chunk := s.recv(65536):
    data += chunk
for line in data.decode().splitlines():
    f = line.split(",")
    if len(f) > 17 and f[0] == "nodes" and f[1] == sys.argv[2]:
        print(f[17].split()[0])
EOF
}
for _ in $(seq 1 100); do
  [ "$(server_state node1)" = UP ] && [ "$(server_state node2)" = UP ] && break
  sleep 0.1
done
[ "$(server_state node1)" = UP ] && [ "$(server_state node2)" = UP ] || fail "HAProxy does not see both nodes up"

# Reports and a client.  Each report carries its own id in its title and in
# a line of its own, so that every printed document names its job.
mkdir -p "$work/jobs" "$work/clients"
make_job() {
  local id=$1
  sed -e "s|<title>[^<]*</title>|<title>Cluster job $id</title>|" \
      -e "s|<detail>|<detail><line>JOB-ID $id END</line>|" \
      "$top/printcontrol/testdata/sales.xml" >"$work/jobs/$id.xml"
}
# One client sends its jobs one after another from its own address
# (127.0.0.2, .3, ...); a job whose exchange failed (no final status 0 nor a
# refusal) is sent again, up to 20 times.
client() {
  local log=$1 source=$2; shift 2
  local id status tries
  for id in "$@"; do
    for tries in $(seq 1 20); do
      status=0
      "$bin/kavelo-send" --port "$front" --timeout 30 --source "$source" "$work/jobs/$id.xml" \
        "$top/printcontrol/testdata/sales.xsl" >/dev/null 2>&1 || status=$?
      echo "$id $status $(date +%s.%N)" >>"$log"
      [ $status -eq 3 ] || break
      sleep 0.2
    done
  done
}
# Runs a phase's jobs FIRST..LAST from $clients clients at once, in the
# background; their results go to $work/clients/PHASE.*.
start_clients() {
  local phase=$1 first=$2 last=$3 c ids
  client_pids=()
  for c in $(seq 0 $((clients - 1))); do
    ids=()
    for id in $(seq "$first" "$last"); do
      [ $(( (id - first) % clients )) -eq "$c" ] && ids+=("$(printf 'c%04d' "$id")")
    done
    for id in "${ids[@]}"; do make_job "$id"; done
    client "$work/clients/$phase.$c" "127.0.0.$((c + 2))" "${ids[@]}" &
    client_pids+=($!)
  done
}
wait_clients() {
  local pid
  for pid in "${client_pids[@]}"; do wait "$pid"; done
}
# Waits until both nodes have printed everything they queued: their job
# lists are empty and no print control of theirs runs.  (The spool folders
# are not the measure: a killed node leaves the files of the exchanges it
# had begun.)
wait_idle() {
  local n busy pid
  for _ in $(seq 1 1200); do
    busy=0
    for n in 1 2; do
      [ "$(KAVELO_REGISTRY_DIR="$work/node$n/registry" "$bin/kavelo-jobs" --json |
        python3 -c 'import json, sys; print(len(json.load(sys.stdin)["jobs"]))')" = 0 ] || busy=1
    done
    # A print control waiting in standby for the next job names itself
    # Ostrevo-standby; one that runs a job is Ostrevo.
    for pid in $(pgrep -f "$bin/Ostrevo"); do
      [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Ostrevo ] && busy=1
    done
    [ $busy -eq 0 ] && return 0
    sleep 0.25
  done
  fail "the nodes did not finish their queues"
}

# What the scheduler holds: the id of each job of the cluster's queue, read
# from the job's document.
printed_jobs() {
  local job id
  for job in $(lpstat -h "$CUPS_SERVER" -o kavelo-cluster | awk '{print $1}' | sed 's/.*-//'); do
    id=$(pdftotext "$cups_dir/spool/d$(printf '%05d' "$job")-001" - 2>/dev/null |
      grep -o 'JOB-ID c[0-9]* END' | head -n 1 | awk '{print $2}')
    echo "${id:-unknown}"
  done
}
# The ids a node's history shows printed, one per line.
node_printed() {
  KAVELO_REGISTRY_DIR="$work/node$1/registry" "$bin/kavelo-jobs" --all --json |
    python3 -c 'import json, sys
for j in json.load(sys.stdin)["jobs"]:
    if j["state"] == "printed" and j["title"].startswith("Cluster job "):
        print(j["title"][12:])'
}

# Sums a phase up: sent, acknowledged, printed, lost, twice.
summarize() {
  local phase=$1 first=$2 last=$3 killed_at=${4:-} sent acked printed lost twice cut_twice
  sent=$((last - first + 1))
  cat "$work/clients/$phase".* >"$work/$phase.results"
  awk '$2 == 0 {print $1}' "$work/$phase.results" | sort -u >"$work/$phase.acked"
  in_phase() { awk -v f="$first" -v l="$last" '{n = substr($1, 2) + 0; if (n >= f && n <= l) print}'; }
  printed_jobs | in_phase >"$work/$phase.printed"
  acked=$(wc -l <"$work/$phase.acked")
  printed=$(awk '{print $1}' "$work/$phase.printed" | sort -u | wc -l)
  lost=$(comm -23 "$work/$phase.acked" <(awk '{print $1}' "$work/$phase.printed" | sort -u) | wc -l)
  awk '{print $1}' "$work/$phase.printed" | sort | uniq -d >"$work/$phase.twice"
  twice=$(wc -l <"$work/$phase.twice")
  # A job printed twice is excused only when an attempt of it ended with
  # its exchange cut (status 3) after the service had queued it.
  cut_twice=$(awk '$2 == 3 {print $1}' "$work/$phase.results" | sort -u | comm -12 - "$work/$phase.twice" | wc -l)
  share1=$(node_printed 1 | in_phase | wc -l)
  share2=$(node_printed 2 | in_phase | wc -l)
  echo "$share1 $share2" >"$work/$phase.shares"
  printf 'cluster-test: %s: sent %d, acknowledged %d, printed %d, lost %d, printed twice %d (acknowledgement cut %d), node1 %d, node2 %d%s\n' \
    "$phase" "$sent" "$acked" "$printed" "$lost" "$twice" "$cut_twice" "$share1" "$share2" \
    "${killed_at:+, routing stopped after $killed_at s}"
  [ "$lost" -eq 0 ] || fail "$phase: $lost acknowledged jobs did not print"
  [ "$twice" -eq "$cut_twice" ] || fail "$phase: an acknowledged job printed twice"
  [ "$acked" -eq "$sent" ] || fail "$phase: only $acked of $sent jobs were acknowledged"
}

say "phase 1: $jobs_per_phase jobs from $clients clients"
began=$(date +%s.%N)
start_clients fair 1 "$jobs_per_phase"
wait_clients
wait_idle
python3 -c "import sys; t = float(sys.argv[2]) - float(sys.argv[1]); print(f'cluster-test: fair: {int(sys.argv[3])} jobs printed in {t:.1f} s through two nodes: {int(sys.argv[3]) / t:.1f} jobs/s')" \
  "$began" "$(date +%s.%N)" "$jobs_per_phase"
summarize fair 1 "$jobs_per_phase"
for share in $(cat "$work/fair.shares"); do
  [ $((share * 3)) -ge "$jobs_per_phase" ] || fail "a node took only $share of $jobs_per_phase jobs"
done

# Behind the proxy each node's history names the clients' own addresses,
# never the proxy's.
for n in 1 2; do
  addresses=$(KAVELO_REGISTRY_DIR="$work/node$n/registry" "$bin/kavelo-jobs" --all --json |
    python3 -c 'import json, sys
print(" ".join(sorted({j["client_address"] for j in json.load(sys.stdin)["jobs"]})))')
  echo "cluster-test: node $n history: client addresses $addresses"
  [ "$addresses" = "127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5" ] ||
    fail "node $n's history does not name the four clients: $addresses"
done

say "phase 2: kill -9 node 1 while jobs flow"
first=$((jobs_per_phase + 1)) last=$((2 * jobs_per_phase))
start_clients kill "$first" "$last"
sleep 2
killed=$(date +%s.%N)
kill -KILL "${node_pid[1]}"
down=""
for _ in $(seq 1 200); do
  [ "$(server_state node1)" = DOWN ] && { down=$(date +%s.%N); break; }
  sleep 0.02
done
[ -n "$down" ] || fail "HAProxy still routes to the killed node"
took=$(python3 -c "print(f'{$down - $killed:.2f}')")
wait_clients
start_node 1  # its persisted queue prints again
wait_idle
summarize kill "$first" "$last" "$took"

say "phase 3: SIGTERM node 2 while jobs flow (drain)"
first=$((2 * jobs_per_phase + 1)) last=$((2 * jobs_per_phase + jobs_per_phase / 2))
start_clients drain "$first" "$last"
sleep 2
kill -TERM "${node_pid[2]}"
wait "${node_pid[2]}" || true
wait_clients
start_node 2  # back from maintenance: what it had queued prints
wait_idle
refused=$(awk '$2 != 0' "$work/clients/drain".* | wc -l)
summarize drain "$first" "$last"
[ "$refused" -eq 0 ] || fail "drain: $refused exchanges failed while node 2 stopped"
say "passed"
