#!/usr/bin/env bash
# The main job, against the virtual camera: list the cameras, show the camera information, save
# one frame in every format, record a 3-second AVI, stream 5 seconds; then the 64-bit build of
# the same program lists the cameras and saves a frame. The files land in out/.
# Then each file is re-read by a standard tool and a table says what the tool saw; the exit
# code is nonzero when any step or check fails.
# Usage: scripts/demo.sh [OUT_DIR]   (default out/; QELVAN_WIN_BIN and QELVAN_WIN64_BIN override
#                                     build/win32/bin and build/win64/bin)
#        scripts/demo.sh --check DIR  (only the checking table, for files made earlier)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
check_only=0
if [ "${1:-}" = --check ]; then
  check_only=1
  shift
fi
if [ "$check_only" = 0 ] && [ -z "${QELVAN_WINE_SESSION:-}" ]; then
  exec "$top/scripts/winsession" "$0" "$@"
fi
bin=${QELVAN_WIN_BIN:-$top/build/win32/bin}
cap="$bin/qelvan-capture.exe"
cap64="${QELVAN_WIN64_BIN:-$top/build/win64/bin}/qelvan-capture.exe"
outdir=${1:-$top/out}
mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
for c in "$cap" "$cap64"; do
  [ "$check_only" = 1 ] || [ -f "$c" ] || { echo "demo: $c is not built (make build)" >&2; exit 1; }
done

# Frames of the still files: full sensor, 24-bit colour. The recording is sub-sampled to a
# quarter (188 x 120) so that 3 s of uncompressed 24-bit frames stay around 12 MB.
still_opts="--colour-mode 24"
avi_opts="--colour-mode 24 --subsample 2"
files=(frame.bmp frame.raw frame.jpg frame.png frame.tif clip.avi frame-x64.png)
steps_failed=0
# step TITLE ARGS... runs the 32-bit program; STEP_PROGRAM=64 the 64-bit one.
step() {
  local title=$1 prog=$cap
  shift
  [ "${STEP_PROGRAM:-}" = 64 ] && prog=$cap64
  printf '\n== %s\n$ %s %s\n' "$title" "$(basename "$(dirname "$(dirname "$prog")")")/qelvan-capture" "$*"
  (cd "$outdir" && wine "$prog" "$@" </dev/null)
  local rc=$?
  if [ "$rc" != 0 ]; then
    echo "   -> failed (exit $rc)"
    steps_failed=$((steps_failed + 1))
  fi
  return 0
}

if [ "$check_only" = 0 ]; then
  for f in "${files[@]}"; do rm -f "$outdir/$f" "$outdir/$f.partial"; done
  # The demo shows the library's first-run settings, not what earlier programs stored.
  wine reg delete 'HKCU\Software\Dovira\QelvanZ51QK2RVNSdk' /f </dev/null >/dev/null 2>&1
  step "Cameras" list
  step "Camera information" info
  for f in frame.bmp frame.raw frame.jpg frame.png frame.tif; do
    # shellcheck disable=SC2086
    step "One frame as ${f##*.}" snap $still_opts "$f"
  done
  # shellcheck disable=SC2086
  step "Recording 3 s" record --seconds 3 $avi_opts clip.avi
  step "Streaming 5 s" stream --seconds 5
  STEP_PROGRAM=64 step "Cameras, from a 64-bit program" list
  # shellcheck disable=SC2086
  STEP_PROGRAM=64 step "One frame as png, from a 64-bit program" snap $still_opts frame-x64.png
fi

# ----- The checking table: every file re-read by a tool that did not write it. -----
rows=()
checks_failed=0
row() {  # file, size, what the reader saw, frames, ok|FAIL
  rows+=("$1|$2|$3|$4|$5")
  [ "$5" = ok ] || checks_failed=$((checks_failed + 1))
}
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }

check_file() {
  local f=$1 path="$outdir/$1" seen ok=FAIL frames=-
  if [ ! -f "$path" ]; then
    row "$f" - "missing" - FAIL
    return
  fi
  case $f in
    *.bmp)
      seen=$(identify -format '%m %wx%h %[channels] %[bit-depth]-bit' "$path" 2>&1 | head -n 1)
      [[ $seen == BMP*" 752x480 "*"8-bit" ]] && ok=ok ;;
    *.raw)
      local want=$((752 * 3 * 480))
      seen="$(size_of "$path") bytes; 752x480x3 = $want"
      [ "$(size_of "$path")" = "$want" ] && ok=ok ;;
    *.jpg)
      seen=$(jpeginfo -c "$path" 2>&1 | sed "s|$path *||; s/  */ /g; s/ *$//" | head -n 1)
      [[ $seen == "752 x 480 24bit"* && $seen == *OK ]] && ok=ok ;;
    *.png)
      # Exposure: under 5% of the pixels at full scale in any channel, and the gray ramp (row
      # 200) short of white at its right end.
      local clipped ramp
      seen=$(pngcheck "$path" 2>&1 | sed "s|$path *||; s/, non-interlaced//; s/)\.* *$/)/" | head -n 1)
      clipped=$(convert "$path" -separate -evaluate-sequence max -threshold 99.99% -format '%[fx:mean*100]' info: 2>/dev/null)
      ramp=$(convert "$path" -crop 752x1+0+200 -colorspace gray -format '%[fx:round(maxima*255)]' info: 2>/dev/null)
      seen="$seen; $(printf '%.1f' "${clipped:-100}")% at full scale, ramp up to ${ramp:-?}"
      [[ $seen == "OK: (752x480, 24-bit RGB"* ]] && awk -v c="${clipped:-100}" -v r="${ramp:-255}" 'BEGIN { exit !(c < 5 && r < 255) }' \
        && ok=ok ;;
    *.tif)
      local info
      info=$(tiffinfo "$path" 2>&1)
      seen=$(sed -n 's/.*Image Width: \([0-9]*\) Image Length: \([0-9]*\).*/\1x\2/p' <<<"$info")
      seen="TIFF $seen, $(sed -n 's/.*Samples\/Pixel: \([0-9]*\).*/\1/p' <<<"$info") samples of $(sed -n 's/.*Bits\/Sample: \([0-9]*\).*/\1/p' <<<"$info") bits"
      [ "$seen" = "TIFF 752x480, 3 samples of 8 bits" ] && ok=ok ;;
    *.avi)
      local probe header
      probe=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=codec_name,width,height,nb_read_frames,avg_frame_rate -of csv=p=0 "$path" 2>/dev/null | head -n 1)
      # codec,width,height,avg_frame_rate,nb_read_frames
      IFS=, read -r codec w h rate frames <<<"$probe"
      header=$(od -An -tu4 -j48 -N4 "$path" 2>/dev/null | tr -d ' ')
      # ffprobe gives the rate as a fraction
      rate=$(awk -F/ '{ if ($2 > 0) printf "%.1f", $1 / $2; else print $1 }' <<<"$rate")
      if [ -n "$probe" ]; then
        seen="$codec ${w}x${h} at $rate fps; header says $header frames"
      else
        seen="ffprobe cannot read it; header says $header frames"
      fi
      [ "$codec" = rawvideo ] && [ "$w" = 188 ] && [ "$h" = 120 ] && [ -n "$frames" ] && [ "$frames" -gt 0 ] \
        && [ "$frames" = "$header" ] && ok=ok ;;
  esac
  row "$f" "$(size_of "$path")" "$seen" "$frames" "$ok"
}
for f in "${files[@]}"; do check_file "$f"; done

printf '\n== Files in %s, re-read by identify, jpeginfo, pngcheck, tiffinfo and ffprobe\n' "$outdir"
{
  echo "file|bytes|what the reader saw|frames|check"
  for r in "${rows[@]}"; do echo "$r"; done
} | awk -F'|' '{ for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } n = NF }
  END { for (r = 1; r <= NR; r++) { line = ""; for (i = 1; i <= n; i++) line = line sprintf(i < n ? "%-" w[i] "s  " : "%s", cell[r, i]); print line } }'

total=$((steps_failed + checks_failed))
echo
if [ "$total" = 0 ]; then
  echo "demo: all steps and checks ok"
else
  echo "demo: $steps_failed step(s) and $checks_failed check(s) failed"
fi
[ "$total" = 0 ]
