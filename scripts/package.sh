#!/usr/bin/env bash
# Builds the Debian packages into build-package/: kavelo (the service, the
# print control, orlendi, kavelo-reg, kavelo-send, kavelo-jobs, the systemd unit) and
# kavelo-console (BrelvaneConsole).  Prints the two .deb paths last.
#   scripts/package.sh [BUILD_DIR]
# Then, as root: apt install ./build-package/kavelo_1.0.0_amd64.deb
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in -h|--help) sed -n '2,6p' "$0"; exit 0 ;; esac
dir="${1:-$top/build-package}"

# The compiler flags of scripts/build.sh (optimised, -Werror), so that ccache
# serves what the test build compiled; the packaging strips the programs.
# Linking binds every symbol at start (-z now) so that relocations can be
# read-only; it costs no compilation.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=true
fi
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVELO_WERROR=ON \
  -DKAVELO_SANITIZE= -DKAVELO_FUZZ=OFF -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" \
  "${launcher[@]}" >/dev/null
targets=(Brelvane Ostrevo orlendi kavelo-reg kavelo-send kavelo-jobs kavelo_package_files)
if cmake --build "$dir" --target help | grep -q '^BrelvaneConsole:'; then
  targets+=(BrelvaneConsole)
fi
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/*.deb
