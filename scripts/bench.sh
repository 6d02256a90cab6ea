#!/usr/bin/env bash
# Runs every benchmark program: native ones from build/native/bin, the 32-bit and 64-bit Windows
# ones under Wine.
# A benchmark prints its headline figures on lines starting with "SUMMARY "; they are repeated,
# without the prefix, at the end.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
for b in "$top"/build/native/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" 2>&1 | tee -a "$log" || status=1
done
# The Windows ones of each build, each build in one Wine session; their SUMMARY lines name the
# build they come from.
for build in win32 win64; do
  win=("$top/build/$build"/bin/bench_*.exe)
  [ -e "${win[0]}" ] || continue
  "$top/scripts/winsession" bash -c '
    rc=0
    for b in "$@"; do echo "== $(basename "$b")"; wine "$b" || rc=1; done
    exit $rc' _ "${win[@]}" 2>&1 | sed -u "s/^SUMMARY /SUMMARY [$build] /" | tee -a "$log"
  [ "${PIPESTATUS[0]}" = 0 ] || status=1
done
echo
echo "== Summary"
grep -a '^SUMMARY ' "$log" | sed 's/^SUMMARY //' | tr -d '\r'
exit $status
