#!/usr/bin/env bash
# Configures and builds the tree.
#   scripts/build.sh [--sanitize address|thread] [--werror] [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
sanitize=""
werror=OFF
dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    --werror) werror=ON; shift ;;
    -h|--help) sed -n '2,4p' "$0"; exit 0 ;;
    *) dir="$1"; shift ;;
  esac
done
[ -n "$dir" ] || dir="$top/build${sanitize:+-$sanitize}"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=true
fi
cmake -S "$top" -B "$dir" -G Ninja -DKAVELO_WERROR="$werror" -DKAVELO_SANITIZE="$sanitize" "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
echo "$dir"
