#!/usr/bin/env bash
# The test command: installs what is missing, builds with warnings as errors,
# starts the servers the tests talk to (a private CUPS scheduler, Xvfb), and
# runs every test.  The whole suite (no ctest arguments, no --sanitize) ends
# with scripts/package-test.sh (as root: build, lintian, install, print a job,
# purge the Debian packages), scripts/cluster-test.sh (as root: two services
# behind HAProxy) and scripts/fuzz.sh: each fuzz target for about 20 seconds.
#   scripts/test.sh [--sanitize address|thread] [--no-install] [--no-fuzz] [--no-package]
#                   [--no-cluster] [ctest args...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sanitize=""
install=1
fuzz=1
package=1
cluster=1
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    --no-install) install=0; shift ;;
    --no-fuzz) fuzz=0; shift ;;
    --no-package) package=0; shift ;;
    --no-cluster) cluster=0; shift ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) ctest_args+=("$1"); shift ;;
  esac
done

[ $install -eq 1 ] && "$top/scripts/install-deps.sh"
build=$("$top/scripts/build.sh" --werror ${sanitize:+--sanitize "$sanitize"} | tail -n 1)

work=$(mktemp -d /tmp/kavelo-test.XXXXXX)
cleanup() {
  # The warm renderers the tests' orlendi runs started, the pool's first in
  # the runtime folder and the others in its w* folders (each pid from the
  # socket's peer credentials).
  for socket in "$work"/orlendi-run/render.sock "$work"/orlendi-run/w*/render.sock; do
    [ -S "$socket" ] || continue
    python3 -c 'import os, socket, struct, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])
os.kill(struct.unpack("3i", s.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12))[0], 9)' \
      "$socket" 2>/dev/null || true
  done
  [ -f "$work/cups/cupsd.pid" ] && "$top/scripts/cups-test-server.sh" stop "$work/cups" || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private CUPS scheduler: its own socket, configuration and queues.
if [ -x "$top/scripts/cups-test-server.sh" ]; then
  export CUPS_SERVER
  CUPS_SERVER=$("$top/scripts/cups-test-server.sh" start "$work/cups" | tail -n 1)
  export KAVELO_TEST_CUPS=1
fi

# A private X display for the console's tests.
if command -v Xvfb >/dev/null; then
  for n in $(seq 90 110); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { disp=":$n"; break; }
  done
  Xvfb "$disp" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$disp"
fi

# orlendi's warm renderer in a folder of this run, ended with it.
export KAVELO_ORLENDI_RUNTIME="$work/orlendi-run"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$top/scripts/tsan.supp"
cd "$build"
ctest --output-on-failure --timeout 300 -j "$(nproc)" "${ctest_args[@]}"

# After ctest, so that installing and purging the package disturbs no test.
if [ $package -eq 1 ] && [ -z "$sanitize" ] && [ ${#ctest_args[@]} -eq 0 ]; then
  "$top/scripts/package-test.sh"
fi

# Two services behind HAProxy, printing into the private scheduler.
if [ $cluster -eq 1 ] && [ -z "$sanitize" ] && [ ${#ctest_args[@]} -eq 0 ]; then
  "$top/scripts/cluster-test.sh" "$build"
fi

if [ $fuzz -eq 1 ] && [ -z "$sanitize" ] && [ ${#ctest_args[@]} -eq 0 ]; then
  "$top/scripts/fuzz.sh" "${KAVELO_FUZZ_SECONDS:-20}"
fi
