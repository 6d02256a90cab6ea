#!/usr/bin/env bash
# Runs the Windows suite against the 32-bit and the 64-bit DLL side by side: each in its own Wine
# prefix (its own wineserver, display and virtual camera driver), so the two never share a camera.
# Lines are prefixed with the build they come from; the exit code is non-zero if either failed.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

run() {
  local tag=$1
  shift
  "$@" 2>&1 | sed -u "s/^/[$tag] /"
  return "${PIPESTATUS[0]}"
}

start=$(date +%s)
run x86 make --no-print-directory test-win32 &
pid32=$!
run x64 make --no-print-directory test-win64 &
pid64=$!
wait "$pid32"
rc32=$?
wait "$pid64"
rc64=$?
echo "test-windows: 32-bit DLL $([ $rc32 = 0 ] && echo passed || echo FAILED)," \
     "64-bit DLL $([ $rc64 = 0 ] && echo passed || echo FAILED), $(( $(date +%s) - start )) s"
[ "$rc32" = 0 ] && [ "$rc64" = 0 ]
