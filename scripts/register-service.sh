#!/usr/bin/env bash
# Registers Brelvane and sets the parameters every local run needs: the
# account, the port, the spool folder, the print control and the spooler's
# default printer.  KAVELO_REGISTRY_DIR chooses the registry, as for every
# program.  Prints what -RegServer prints.
#
# usage: scripts/register-service.sh KAVELO_REG BRELVANE ACCOUNT PORT SPOOL_DIR PRINT_CONTROL
set -euo pipefail
if [ $# -ne 6 ]; then
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
reg_tool=$1 brelvane=$2 account=$3 port=$4 spool=$5 print_control=$6
key='HKLM\SYSTEM\CurrentControlSet\Services\Brelvane'
reg() { "$reg_tool" "$@" >/dev/null; }
"$brelvane" -RegServer
reg add "$key" /v ObjectName /d "$account" /f
reg add "$key\\Parameters" /v Port /t REG_DWORD /d "$port" /f
reg add "$key\\Parameters" /v SpoolerDirectory /d "$spool" /f
reg add "$key\\Parameters" /v PrinterApplication /d "$print_control" /f
reg add "$key\\Parameters" /v UseDefaultPrinter /t REG_DWORD /d 1 /f
