#!/usr/bin/env bash
# Installs every Debian package the system needs to build, test and run.
# Idempotent: packages already present are left as they are.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ccache python3
  libsqlite3-dev sqlite3 nlohmann-json3-dev
  libxerces-c-dev libxalan-c-dev xsltproc
  libcups2-dev cups cups-client cups-bsd cups-filters cups-ipp-utils
  libsystemd-dev
  libwxgtk3.2-dev xvfb xauth
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  weasyprint poppler-utils zlib1g-dev
  clang libclang-rt-14-dev llvm
  dpkg-dev lintian adduser man-db
  libcpp-httplib-dev prometheus-cpp-dev
  prometheus chromium chromium-driver python3-selenium
  haproxy curl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
