#!/usr/bin/env bash
# A private CUPS scheduler for tests, with its own configuration, socket,
# spool and logs in DIR; it touches nothing of the system's CUPS.
#   scripts/cups-test-server.sh start DIR   (as root) prints CUPS_SERVER last
#   scripts/cups-test-server.sh stop DIR
#
# Queues (both accept jobs but are stopped, so that submitted jobs stay
# active and tests can see, hold, reorder and cancel them; a test that wants
# a job printed resumes a queue of its own):
#   kavelo-raw   raw queue on file:///dev/null (no page geometry)
#   kavelo-pdf   PDF queue with a PPD: A4 default, 600 dpi, edges 18 pt left
#                and right, 36 pt top and bottom; the default destination
#   kavelo-held  raw queue for the held-printing tests alone (their job
#                order must not be disturbed by other tests' reordering)
# Listens on DIR/cups.sock and on a free 127.0.0.1 port (DIR/port).  root
# and the calling user (SUDO_USER, else the current user) administer it.
set -euo pipefail

usage() {
  sed -n '2,5p' "$0" >&2
  exit 2
}

[ $# -eq 2 ] || usage
cmd=$1
dir=$2

stop_server() {
  local pid
  [ -f "$dir/cupsd.pid" ] || { echo "cups-test-server: no $dir/cupsd.pid" >&2; return 1; }
  pid=$(cat "$dir/cupsd.pid")
  rm -f "$dir/cupsd.pid"
  # Only our own cupsd: the pid must still run the scheduler with our config.
  if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "$dir/cupsd.conf"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || return 0
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  return 0
}

free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

write_ppd() {
  cat >"$1" <<'EOF'
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "KAVELOPD.PPD"
*Manufacturer: "Kavelo"
*Product: "(Kavelo Test PDF)"
*ModelName: "Kavelo Test PDF"
*ShortNickName: "Kavelo Test PDF"
*NickName: "Kavelo Test PDF"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: True
*DefaultColorSpace: RGB
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsFilter2: "application/vnd.cups-pdf application/pdf 0 -"
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A4
*PageSize A4/A4: "<</PageSize[595 842]/ImagingBBox null>>setpagedevice"
*PageSize Letter/US Letter: "<</PageSize[612 792]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A4
*PageRegion A4/A4: "<</PageSize[595 842]/ImagingBBox null>>setpagedevice"
*PageRegion Letter/US Letter: "<</PageSize[612 792]/ImagingBBox null>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A4
*ImageableArea A4/A4: "18 36 577 806"
*ImageableArea Letter/US Letter: "18 36 594 756"
*DefaultPaperDimension: A4
*PaperDimension A4/A4: "595 842"
*PaperDimension Letter/US Letter: "612 792"
*OpenUI *Resolution/Resolution: PickOne
*OrderDependency: 10 AnySetup *Resolution
*DefaultResolution: 600dpi
*Resolution 600dpi/600 DPI: "<</HWResolution[600 600]>>setpagedevice"
*CloseUI: *Resolution
*DefaultFont: Courier
*Font Courier: Standard "(002.004S)" Standard ROM
EOF
}

start_server() {
  [ "$(id -u)" -eq 0 ] || { echo "cups-test-server: start needs root" >&2; exit 1; }
  command -v cupsd >/dev/null || PATH=$PATH:/usr/sbin
  if [ -f "$dir/cupsd.pid" ] && kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null; then
    echo "cups-test-server: already running in $dir" >&2
    exit 1
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  local sock="$dir/cups.sock" port caller admins
  port=$(free_port)
  caller=${SUDO_USER:-$(id -un)}
  admins="@SYSTEM"
  [ "$caller" = root ] || admins="@SYSTEM $caller"
  mkdir -p "$dir/spool/tmp" "$dir/cache" "$dir/state/certs" "$dir/log" "$dir/ppd" "$dir/ssl"
  # The filters run as lp: they must reach the spool through DIR.
  chmod 0755 "$dir" "$dir/ppd" "$dir/log" "$dir/ssl"
  chgrp lp "$dir/spool" "$dir/spool/tmp" "$dir/cache" 2>/dev/null || true
  chmod 0710 "$dir/spool"
  chmod 1770 "$dir/spool/tmp"
  chmod 0770 "$dir/cache"
  # A root-owned temporary parent (mktemp -d is 0700) is opened for passage
  # only, so that lp can reach the spool when a test lets a queue print.
  parent=$(dirname "$dir")
  [ "$(stat -c %u "$parent")" -eq 0 ] && chmod o+x "$parent" 2>/dev/null || true

  cat >"$dir/cups-files.conf" <<EOF
SystemGroup root
PeerCred on
FileDevice Yes
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
CacheDir $dir/cache
StateDir $dir/state
RequestRoot $dir/spool
TempDir $dir/spool/tmp
ServerRoot $dir
Printcap $dir/printcap
EOF

  local limit_admin="    AuthType Default
    Require user $admins
    Order deny,allow"
  cat >"$dir/cupsd.conf" <<EOF
LogLevel warn
MaxLogSize 0
Listen $sock
Listen 127.0.0.1:$port
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
MaxJobs 0
PreserveJobFiles No
DefaultAuthType Basic
<Location />
  Order allow,deny
  Allow localhost
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document Cancel-Job CUPS-Authenticate-Job>
    Require user @OWNER $admins
    Order deny,allow
  </Limit>
  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default CUPS-Get-Devices>
$limit_admin
  </Limit>
  <Limit Pause-Printer Resume-Printer Enable-Printer Disable-Printer Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer Activate-Printer Restart-Printer Shutdown-Printer Startup-Printer Promote-Job Schedule-Job-After Cancel-Jobs CUPS-Accept-Jobs CUPS-Reject-Jobs>
$limit_admin
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
  chmod 0644 "$dir/cupsd.conf" "$dir/cups-files.conf"
  write_ppd "$dir/kavelo-pdf.ppd"
  echo "$port" >"$dir/port"

  cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" </dev/null >"$dir/log/cupsd.out" 2>&1 &
  echo $! >"$dir/cupsd.pid"

  local up=0
  for _ in $(seq 100); do
    if [ -S "$sock" ] && lpstat -h "$sock" -r >/dev/null 2>&1; then
      up=1
      break
    fi
    kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null || break
    sleep 0.1
  done
  if [ $up -ne 1 ]; then
    echo "cups-test-server: the scheduler did not answer; see $dir/log" >&2
    cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null || true
    stop_server || true
    exit 1
  fi

  export CUPS_SERVER="$sock"
  lpadmin -p kavelo-raw -v file:///dev/null -D "Kavelo raw test queue" 2>/dev/null
  lpadmin -p kavelo-pdf -v file:///dev/null -P "$dir/kavelo-pdf.ppd" -D "Kavelo PDF test queue" \
    2> >(grep -v "drivers are deprecated" >&2)
  lpadmin -p kavelo-held -v file:///dev/null -D "Kavelo held-printing test queue" 2>/dev/null
  cupsaccept kavelo-raw kavelo-pdf kavelo-held
  cupsdisable -r "stopped for tests" kavelo-raw kavelo-pdf kavelo-held
  lpadmin -d kavelo-pdf >/dev/null
  echo "$sock"
}

case "$cmd" in
  start) start_server ;;
  stop) stop_server ;;
  *) usage ;;
esac
