#!/usr/bin/env bash
# scripts/setup.sh on scratch files: source-package entries for both layouts of the package
# sources, what an interrupted run left made again, and a failing third-party build stopping
# the script with the compiler's error and without marking the build done.
set -u
top=$(cd "$(dirname "$0")/../../.." && pwd)
setup="$top/scripts/setup.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Debian 12 from the container image (deb822) and from the installer (one-line sources.list).
cat >"$work/debian.sources" <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
cat >"$work/sources.list" <<'SRC'
# deb cdrom:[Debian GNU/Linux 12.5.0 _Bookworm_]/ bookworm main
deb http://deb.debian.org/debian/ bookworm main non-free-firmware
# deb-src http://deb.debian.org/debian/ bookworm main non-free-firmware
deb http://security.debian.org/debian-security bookworm-security main non-free-firmware
deb [arch=amd64] http://deb.debian.org/debian/ bookworm-updates main
SRC
printf '# nothing here\n' >"$work/empty.list"

# input|left from before|exit|expected output (\n-separated; "-" for no file)
while IFS='|' read -r input before want expected; do
  [ -n "$input" ] || continue
  out="$work/out-$input"
  rm -f "$out"
  [ "$before" = none ] || printf '%b' "$before" >"$out"
  QELVAN_APT_SOURCES="$work/$input" QELVAN_APT_SRC_LIST="$out" bash "$setup" sources >"$work/log" 2>&1
  rc=$?
  [ "$rc" = "$want" ] || fail "sources from $input (before: $before): exit $rc, expected $want: $(cat "$work/log")"
  if [ "$expected" = - ]; then
    [ ! -e "$out" ] || fail "sources from $input: wrote $out"
  else
    got=$(sed '/^$/d' "$out" 2>/dev/null)
    [ "$got" = "$(printf '%b' "$expected")" ] || fail "sources from $input (before: $before): wrote '$got'"
  fi
done <<'CASES'
debian.sources|none|0|Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg
sources.list|none|0|deb-src http://deb.debian.org/debian/ bookworm main non-free-firmware\ndeb-src [arch=amd64] http://deb.debian.org/debian/ bookworm-updates main
sources.list||0|deb-src http://deb.debian.org/debian/ bookworm main non-free-firmware\ndeb-src [arch=amd64] http://deb.debian.org/debian/ bookworm-updates main
sources.list|deb-src http://example.org/kept bookworm main\n|0|deb-src http://example.org/kept bookworm main
empty.list|none|1|-
missing.list|none|1|-
CASES

# A third-party library that does not compile: the script stops with the compiler's message.
cache="$work/cache"
mkdir -p "$cache/src/libjpeg-turbo-0/" "$cache/src/libpng1.6-0/" "$cache/src/tiff-0/"
for pkg in libjpeg-turbo libpng1.6 tiff; do touch "$cache/src/$pkg.fetched"; done
printf 'cmake_minimum_required(VERSION 3.13)\nproject(broken C)\nadd_library(broken STATIC broken.c)\ninstall(TARGETS broken)\n' \
  >"$cache/src/libjpeg-turbo-0/CMakeLists.txt"
printf '#error broken on purpose\n' >"$cache/src/libjpeg-turbo-0/broken.c"
QELVAN_THIRDPARTY_CACHE="$cache" bash "$setup" thirdparty >"$work/log" 2>&1
rc=$?
[ "$rc" != 0 ] || fail "thirdparty: a failed build exited 0"
grep -q "broken on purpose" "$work/log" || fail "thirdparty: the compiler's error was not shown: $(tail -n 5 "$work/log")"
grep -q "setup: ok" "$work/log" && fail "thirdparty: said ok after a failed build"
[ ! -e "$cache/install/.done" ] || fail "thirdparty: marked done after a failed build"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
