#!/usr/bin/env bash
# Installs the Qelvan virtual camera (qlvnvcam.sys, next to this script) as a kernel driver of a
# Wine prefix and starts it, so that programs using QelvanSdk_Z51QK2_RVN.dll find camera 0.
#
# FOR WINE ONLY. This driver is a test double for development without hardware. It is not
# signed, it is not for real Windows, and it must never be installed on a Windows machine.
#
# Usage: install-virtual-camera.sh          (uses $WINEPREFIX, default ~/.wine; a 64-bit prefix)
# The driver lives as long as the prefix's wineserver: the script starts a persistent one
# (wineserver -p). Stop it with: wineserver -k
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sys="$here/qlvnvcam.sys"
name=QlvnVCam
[ -f "$sys" ] || { echo "install-virtual-camera: $sys not found" >&2; exit 1; }
command -v wine >/dev/null || { echo "install-virtual-camera: wine is not installed" >&2; exit 1; }
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

prefix=${WINEPREFIX:-$HOME/.wine}
if [ "${WINEARCH:-}" = win32 ] || grep -qx '#arch=win32' "$prefix/system.reg" 2>/dev/null; then
  echo "install-virtual-camera: $prefix is a 32-bit Wine prefix; the virtual camera is a 64-bit driver" \
       "and needs a 64-bit prefix (32-bit programs run there too): for example" \
       "WINEPREFIX=\$HOME/.wine-qelvan WINEARCH=win64 $0" >&2
  exit 1
fi
wineserver -p >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
if [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
  echo "install-virtual-camera: $prefix is not a 64-bit Wine prefix (no syswow64); the virtual camera" \
       "needs one: is the 64-bit Wine (wine64) installed?" >&2
  exit 1
fi
# shellcheck source=vcam-service.sh
. "$here/vcam-service.sh"
vcam_service_register "$sys" || { echo "install-virtual-camera: could not create the service $name" >&2; exit 1; }
started() { wine "$here/vcam.exe" list </dev/null >/dev/null 2>&1; }
for attempt in 1 2; do
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    wine sc start "$name" </dev/null >/dev/null 2>&1
    if started; then
      echo "install-virtual-camera: the virtual camera runs in $prefix"
      wine "$here/vcam.exe" list
      exit 0
    fi
    sleep 0.5
  done
  # A fresh prefix starts its driver host only after one server restart.
  [ "$attempt" = 1 ] && { wineserver -k >/dev/null 2>&1; sleep 1; wineserver -p >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1; }
done
echo "install-virtual-camera: the driver did not start; try 'wineserver -k' and run this again" >&2
exit 1
