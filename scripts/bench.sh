#!/usr/bin/env bash
# Runs every benchmark program: native ones from build/native/bin, Windows ones under Wine.
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
win=("$top"/build/win32/bin/bench_*.exe)
if [ -e "${win[0]}" ]; then
  # One Wine session for all of them.
  "$top/scripts/winsession" bash -c '
    rc=0
    for b in "$@"; do echo "== $(basename "$b")"; wine "$b" || rc=1; done
    exit $rc' _ "${win[@]}" 2>&1 | tee -a "$log" || status=1
fi
echo
echo "== Summary"
grep -a '^SUMMARY ' "$log" | sed 's/^SUMMARY //' | tr -d '\r'
exit $status
