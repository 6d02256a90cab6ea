#!/usr/bin/env bash
# Makes the API reference from include/QelvanSdk.h with Doxygen (settings in docs/Doxyfile):
# OUT_DIR/html/index.html. Fails on any Doxygen warning (an undocumented export, parameter or
# return value), after printing the warnings.
# Usage: scripts/docs.sh [OUT_DIR] [Doxyfile setting...]   (default build/docs)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/build/docs}
shift $(( $# > 0 ? 1 : 0 ))
command -v doxygen >/dev/null || { echo "docs: doxygen is not installed (scripts/setup.sh packages installs it)" >&2; exit 1; }
version=$(sed -n 's/^#define QELVAN_SDK_VERSION_STRING "\([^"]*\)".*/\1/p' "$top/include/QelvanSdk.h")
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -rf "$out/html"
log="$out/warnings.log"
{
  cat "$top/docs/Doxyfile"
  echo "OUTPUT_DIRECTORY = \"$out\""
  echo "PROJECT_NUMBER = $version"
  echo "WARN_LOGFILE = \"$log\""
  for setting in "$@"; do echo "$setting"; done
} | (cd "$top" && doxygen -) || { cat "$log" >&2; echo "docs: doxygen failed (warnings above)" >&2; exit 1; }
if [ -s "$log" ]; then
  cat "$log" >&2
  echo "docs: doxygen warned (above)" >&2
  exit 1
fi
echo "$out/html/index.html"
