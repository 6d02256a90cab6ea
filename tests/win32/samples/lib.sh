# Shared by the sample tests: runs in one Wine session, with helpers to run a program and check
# what it printed and returned.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
if [ -z "${QELVAN_WINE_SESSION:-}" ]; then
  exec "$top/scripts/winsession" bash "$0" "$@"
fi
bin=$(cd "${1:-$top/build/win32/bin}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run NAME PROGRAM ARGS...: runs under Wine, leaves the exit code in $rc and the output (stdout
# and stderr) in $out.
run() {
  label_now=$1
  shift
  (cd "$work" && timeout 600 wine "$@" </dev/null >"$work/.output" 2>&1)
  rc=$?
  out=$(tr -d '\r' <"$work/.output")
  echo "--- $label_now: exit $rc"
  echo "$out" | tail -n 12 | sed 's/^/    /'
}

# expect RC REGEX: checks the last run.
expect() {
  local want_rc=$1 pattern=$2
  if [ "$want_rc" = nonzero ]; then
    [ "$rc" != 0 ] || fail "$label_now: exit 0, expected a failure"
  elif [ "$rc" != "$want_rc" ]; then
    fail "$label_now: exit $rc, expected $want_rc"
  fi
  if [ -n "$pattern" ] && ! grep -Eq -- "$pattern" <<<"$out"; then
    fail "$label_now: output does not match /$pattern/"
  fi
}

finish() {
  if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}
