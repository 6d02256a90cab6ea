#!/usr/bin/env bash
# The API reference: Doxygen must document every export of the .def, each with all its
# parameters, its return value and an Errors paragraph that names error codes (or says None),
# and must refuse a header that leaves a parameter, a return value or an export undocumented.
# Exits 77 (skipped) without doxygen.
set -uo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
command -v doxygen >/dev/null || { echo "SKIP: doxygen is not installed (scripts/setup.sh installs it)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

"$top/scripts/docs.sh" "$work/ref" GENERATE_XML=YES >"$work/docs.log" 2>&1 \
  || { cat "$work/docs.log"; echo "FAIL: the reference does not build without warnings"; exit 1; }

# One line per documented function: name, return documented, Errors paragraph's text.
awk '
  /<memberdef kind="function"/ { inside = 1; name = ""; ret = 0; errors = ""; grab = 0 }
  inside && /<name>/ && name == "" { name = $0; gsub(/.*<name>|<\/name>.*/, "", name) }
  inside && /<simplesect kind="return">/ { ret = 1 }
  inside && /<title>Errors<\/title>/ { grab = 1 }
  inside && grab { errors = errors $0; if ($0 ~ /<\/simplesect>/) grab = 0 }
  inside && /<\/memberdef>/ {
    inside = 0
    gsub(/<[^>]*>/, "", errors)
    if (name ~ /^Qelvan_/) print name "\t" ret "\t" errors
  }' "$work"/ref/xml/group__*.xml | sort -u -t$'\t' -k1,1 >"$work/documented"

def_names=$(sed -n 's/^  *\(Qelvan_[A-Za-z_0-9]*\).*/\1/p' "$top/src/api/QelvanSdk.def" | sort -u)
header_names=$(grep -o 'QELVAN_API Qelvan_[A-Za-z_0-9]*' "$top/include/QelvanSdk.h" | sed 's/QELVAN_API //' | sort -u)
doc_names=$(cut -f1 "$work/documented")
[ "$(wc -l <<<"$def_names")" = 124 ] || fail "the .def lists $(wc -l <<<"$def_names") exports, not 124"
[ "$header_names" = "$def_names" ] || fail "the header and the .def differ: $(comm -3 <(echo "$header_names") <(echo "$def_names") | tr -d '\t' | tr '\n' ' ')"
[ "$doc_names" = "$def_names" ] \
  || fail "documented in a group and exported differ: $(comm -3 <(echo "$doc_names") <(echo "$def_names") | tr -d '\t' | tr '\n' ' ')"
while IFS=$'\t' read -r name ret errors; do
  [ "$ret" = 1 ] || fail "$name: no return value documented"
  grep -Eq '^Errors *None|ERR_[A-Z_]+' <<<"$errors" || fail "$name: no Errors paragraph naming error codes (or None)"
done <"$work/documented"

# The settings refuse what they must: a header with a gap fails the build of the reference, and
# the message names the gap.  case|sed script applied to the header|expected message
while IFS='|' read -r what script message; do
  [ -n "$what" ] || continue
  sed "$script" "$top/include/QelvanSdk.h" >"$work/QelvanSdk.h"
  cmp -s "$work/QelvanSdk.h" "$top/include/QelvanSdk.h" && { fail "$what: the case changed nothing"; continue; }
  if "$top/scripts/docs.sh" "$work/gap" "INPUT = $work/QelvanSdk.h docs/reference.md" >"$work/gap.log" 2>&1; then
    fail "$what: the reference built without complaint"
  else
    grep -Eq "QelvanSdk.h:[0-9]+: .*$message" "$work/gap.log" || fail "$what: failed without saying so: $(head -n 3 "$work/gap.log")"
  fi
done <<'GAPS'
a parameter left out|/@param buffer Receives the name, cut to length - 1 characters/d|parameter of Qelvan_GetDeviceName.* is not documented
a return value left out|/@return 1 when the preview runs; 0 on failure, with a window/d|return type of member Qelvan_Preview is not documented
an export left undocumented|s#^/\*\* @brief Reads the vertical mirror setting#/* Reads the vertical mirror setting#|Member Qelvan_GetMirrorV.* is not documented
GAPS

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed: $(wc -l <"$work/documented") exports documented"
