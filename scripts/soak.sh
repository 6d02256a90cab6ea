#!/usr/bin/env bash
# Long runs of the stress tests. Each run is one line in the table below: a name, the seconds
# it runs (exported as QLV_STRESS_SECONDS), the Windows test program and its gtest filter.
# A test prints its figures on lines starting with "SOAK "; they are repeated at the end.
# SOAK_SECONDS overrides every run's length. To add a long run, add a line to the table and
# have the test read QLV_STRESS_SECONDS. Names given as arguments run only those runs
# (scripts/soak.sh lifetime-cycles preview-soak).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/win32/bin"

runs=(
  # name                      seconds  program          filter
  "vcam-unplug                300      vcam_tests.exe   Robustness.UnplugAgainstFramesInFlight"
  # Long forms of the reliability tests: full cycle and round counts whenever QLV_STRESS_SECONDS is set.
  "camera-lost                60       reliability_tests.exe  *CameraLost*:RecordingLost.*"
  "two-programs               60       reliability_tests.exe  TwoPrograms.*"
  "lifetime-cycles            3600     reliability_tests.exe  Lifetime.*"
  "release-races              300      reliability_tests.exe  ReleaseFrame.*:ReleaseRace.*"
  "bad-input                  60       reliability_tests.exe  BadInput.*"
  "preview-soak               600      reliability_tests.exe  Soak.*"
  "random-calls               60       reliability_tests.exe  RandomCalls.*:FoundByRandomCalls.*"
  "input-files                600      reliability_tests.exe  InputFiles.*"
)

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
for run in "${runs[@]}"; do
  read -r name seconds program filter <<<"$run"
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  seconds=${SOAK_SECONDS:-$seconds}
  echo "== $name ($seconds s)"
  if [ ! -x "$bin/$program" ]; then
    echo "soak: $bin/$program is missing; run make build first" >&2
    status=1
    continue
  fi
  QLV_STRESS_SECONDS=$seconds "$top/scripts/winrun" "$bin/$program" --gtest_filter="$filter" \
    2>&1 | tee -a "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "soak: $name FAILED" >&2; status=1; }
done
echo
echo "== Soak figures"
grep -a '^SOAK ' "$log" | tr -d '\r'
exit $status
