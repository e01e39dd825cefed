#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs
# each for SECONDS (default 20), two at a time, on its seed corpus
# fuzz/corpus/TARGET plus what earlier runs found (build-fuzz/corpus/TARGET).
# Fails when a target crashes, leaks, hangs or breaks a check; the input that
# did it lands in build-fuzz/crashes/.
# --runs N also ends each target after N inputs.
#   scripts/fuzz.sh [--jobs N] [--runs N] [--build-only] [SECONDS [TARGET...]]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=2
runs=-1
build_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --jobs) jobs="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --build-only) build_only=1; shift ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
seconds="${1:-20}"
[ $# -gt 0 ] && shift
build="$top/build-fuzz"

command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (scripts/install-deps.sh)" >&2; exit 1; }
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=true
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKAVELO_FUZZ=ON -DKAVELO_BUILD_CONSOLE=OFF -DKAVELO_WERROR=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target fuzzers -j "$(nproc)"
[ "$build_only" -eq 1 ] && exit 0

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in "$top"/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# Targets that write files make their scratch folders below this one; it is
# removed at the end even when a run crashed and could not clean up.  In
# memory when the machine has /dev/shm: a file per input on a disk is forty
# times slower.
scratch_base="$build"
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_base=/dev/shm
scratch=$(mktemp -d "$scratch_base/kavelo-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/logs" "$build/crashes"
export TMPDIR="$scratch"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_one() {
  local target="$1" corpus="$build/corpus/$1"
  mkdir -p "$corpus"
  # -timeout: one input may take at most 10 s; -rss_limit_mb bounds memory;
  # the outer timeout catches a run that hangs beyond libFuzzer's own limit.
  timeout --kill-after=10 $((seconds + 60)) "$build/bin/$target" \
    -max_total_time="$seconds" -runs="$runs" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$build/crashes/$target-" \
    "$corpus" "$top/fuzz/corpus/$target" >"$build/logs/$target.log" 2>&1
}

failed=()
declare -A pids=()
report() {
  local target="$1" status="$2" execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$target.log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    printf 'fuzz: %-32s ok     %12s execs\n' "$target" "${execs:-?}"
  else
    printf 'fuzz: %-32s FAILED %12s execs (exit %s), log %s\n' "$target" "${execs:-?}" "$status" \
      "$build/logs/$target.log"
    grep -m 3 -E 'ERROR: |runtime error|SUMMARY|Test unit written' "$build/logs/$target.log" | sed 's/^/      /' || true
    failed+=("$target")
  fi
}
wait_one() {
  local pid status=0
  wait -n -p pid "${!pids[@]}" || status=$?
  report "${pids[$pid]}" "$status"
  unset "pids[$pid]"
}
for target in "${targets[@]}"; do
  [ -x "$build/bin/$target" ] || { echo "fuzz: no target $target" >&2; exit 1; }
  while [ ${#pids[@]} -ge "$jobs" ]; do wait_one; done
  run_one "$target" &
  pids[$!]="$target"
done
while [ ${#pids[@]} -gt 0 ]; do wait_one; done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds}s each without a fault"
