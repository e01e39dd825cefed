# Shared by the benchmarks that run the real Brelvane (sourced, not run):
# the work folder, the account the service runs as, its registration, its
# start and stop, and the end of the warm renderers a run started.  The
# caller sets top, bin and port before it sources this file, then calls
# bench_work.
#
# As root the service runs as "nobody", as a packaged service runs as its own
# account; otherwise as the caller.

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

account=$(id -un)
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  account=nobody
  run_as=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups --)
fi
key='HKLM\SYSTEM\CurrentControlSet\Services\Brelvane'

# Checks that the programs are built, makes the work folder
# /tmp/kavelo-NAME.XXXXXX with copies of the service's programs, the sales
# sample in jobs/ and a folder per printer (the first is the default), points
# the registry, the event log and the folder spooler into it, and removes it
# all, with the service and the warm renderers, at the exit.
bench_work() {  # bench_work NAME PRINTER...
  local program printer
  for program in Brelvane Ostrevo orlendi kavelo-send kavelo-reg; do
    [ -x "$bin/$program" ] || { echo "build first: $bin/$program is missing" >&2; exit 1; }
  done
  work=$(mktemp -d "/tmp/kavelo-$1.XXXXXX")
  shift
  service_pid=""
  trap bench_cleanup EXIT
  chmod 755 "$work"
  mkdir -p "$work"/{registry,spool,bin,home,jobs}
  for printer in "$@"; do mkdir -p "$work/printers/$printer"; done
  printf '%s' "$1" >"$work/printers/default"
  cp "$bin/Brelvane" "$bin/Ostrevo" "$bin/orlendi" "$work/bin/"
  cp "$top/printcontrol/testdata/sales.xml" "$top/printcontrol/testdata/sales.xsl" "$work/jobs/"
  export KAVELO_REGISTRY_DIR="$work/registry" KAVELO_EVENTLOG="$work/events.jsonl"
  export KAVELO_SPOOLER="dir:$work/printers"
}

bench_cleanup() {
  stop_service
  end_workers
  rm -rf "$work"
}

# Registers the service copied to $work/bin, spooling into $work/spool, and
# gives the account the whole work folder.
register_service() {
  "$top/scripts/register-service.sh" "$bin/kavelo-reg" "$work/bin/Brelvane" "$account" "$port" \
    "$work/spool" "$work/bin/Ostrevo" >/dev/null
  if [ "$(id -u)" -eq 0 ]; then chown -R "$account:" "$work"; fi
}

start_service() {  # start_service RUNTIME_FOLDER [COLD]
  "${run_as[@]}" env HOME="$work/home" KAVELO_ORLENDI_RUNTIME="$1" \
    ${2:+KAVELO_ORLENDI_COLD=1} "$work/bin/Brelvane" >>"$work/service.out" 2>&1 &
  service_pid=$!
  for _ in $(seq 1 300); do
    [ -n "$(ss -Hltn "sport = :$port")" ] && return 0
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "the service did not start:" >&2
  cat "$work/service.out" "$KAVELO_EVENTLOG" >&2 2>/dev/null
  exit 1
}

stop_service() {
  if [ -n "$service_pid" ]; then
    kill -TERM "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=""
  fi
}

# The worker listening in a runtime (or slot) folder: its pid from the
# socket's peer credentials (nothing else identifies it for sure).
worker_pid() {
  python3 - "$1/render.sock" <<'PY' 2>/dev/null || true
import socket, struct, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
print(struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0])
PY
}

end_worker() {  # end_worker FOLDER
  local pid
  pid=$(worker_pid "$1")
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
}

# Every worker of the runtime folders below $work (the warm renderer is no
# child of the service: it would render on beside the next round).
end_workers() {
  local folder
  for folder in "$work"/run* "$work"/run*/w*; do
    if [ -S "$folder/render.sock" ]; then end_worker "$folder"; fi
  done
}
