#!/usr/bin/env bash
# Checks the files that the Windows file tests wrote, with the standard tools, against the
# reference dumps those tests made of the expected pixels. Reads DIR/manifest.txt:
#   png|tiff|bmp FILE MAP DEPTH REF [SAMPLES STRIPBYTES]
#   jpeg FILE MAP 8 REF QUALITY GROUP
#   avi FILE FRAMES REF WxH
#   avicount FILE FRAMES
set -u
dir=${1:?usage: check_files.sh DIR}
cd "$dir" || exit 1
[ -s manifest.txt ] || { echo "no manifest in $dir"; exit 1; }
fail=0
bad() { echo "FAIL: $*"; fail=1; }
# Windows names to local ones.
local_name() { echo "${1#files_out\\}"; }

# Decodes to the raw map and compares byte for byte.
same_pixels() {  # file map depth ref
  convert "$1" -endian MSB -depth "$3" "$2:-" 2>/dev/null | cmp -s - "$4"
}

declare -A psnr
checked=0
while read -r kind file map depth ref rest; do
  file=$(local_name "$file"); ref=$(local_name "${ref:-}")
  [ -f "$file" ] || { bad "$file missing"; continue; }
  checked=$((checked + 1))
  case $kind in
    png)
      pngcheck -q "$file" >/dev/null || bad "pngcheck $file"
      same_pixels "$file" "$map" "$depth" "$ref" || bad "pixels of $file"
      ;;
    tiff)
      read -r samples strip <<<"$rest"
      info=$(tiffinfo -D "$file" 2>&1) || bad "tiffinfo $file"
      grep -q "Bits/Sample: $depth" <<<"$info" || bad "$file bits/sample"
      grep -q "Samples/Pixel: $samples" <<<"$info" || bad "$file samples/pixel"
      grep -q "Compression Scheme: None" <<<"$info" || bad "$file compression"
      if [ "$samples" = 4 ]; then
        grep -qi "Extra Samples: 1<unassoc-alpha>" <<<"$info" || bad "$file extra samples"
      fi
      # One strip holding exactly the unpadded rows.
      strips=$(tiffinfo -s "$file" 2>/dev/null | sed -n '/Strips:/,$p' | tail -n +2)
      [ "$(wc -l <<<"$strips")" = 1 ] || bad "$file strip count"
      [ "$(tr -d '[],' <<<"$strips" | awk '{print $NF}')" = "$strip" ] || bad "$file strip size"
      same_pixels "$file" "$map" "$depth" "$ref" || bad "pixels of $file"
      ;;
    bmp)
      identify "$file" >/dev/null 2>&1 || bad "identify $file"
      same_pixels "$file" "$map" "$depth" "$ref" || bad "pixels of $file"
      ;;
    jpeg)
      read -r quality group <<<"$rest"
      jpeginfo -c "$file" | grep -q 'OK' || bad "jpeginfo $file"
      read -r q interlace space <<<"$(identify -format '%Q %[interlace] %[colorspace]' "$file")"
      [ "$q" = "$quality" ] || bad "$file quality $q, not $quality"
      [ "$interlace" = JPEG ] || bad "$file not progressive ($interlace)"
      want=sRGB; [ "$map" = gray ] && want=Gray
      [ "$space" = "$want" ] || bad "$file colour space $space"
      size=$(identify -format '%wx%h' "$file")
      p=$(convert "$file" -depth 8 "$map:-" | compare -metric PSNR -size "$size" -depth 8 \
            "$map:-" "$map:$ref" null: 2>&1)
      psnr[$group.$quality]=${p%% *}
      ;;
    avi)
      frames=$map wh=$ref ref=$(local_name "$depth")
      n=$(ffprobe -v error -count_frames -select_streams v:0 \
            -show_entries stream=nb_read_frames -of csv=p=0 "$file" </dev/null)
      [ "$n" = "$frames" ] || bad "$file: ffprobe reads $n frames, not $frames"
      ffmpeg -nostdin -v error -i "$file" -f rawvideo -pix_fmt bgr24 - 2>/dev/null | cmp -s - "$ref" ||
        bad "frames of $file"
      ;;
    avicount)
      n=$(ffprobe -v error -count_frames -select_streams v:0 \
            -show_entries stream=nb_read_frames -of csv=p=0 "$file" </dev/null)
      [ "$n" = "$map" ] || bad "$file: ffprobe reads $n frames, not $map"
      ;;
    *) bad "unknown kind $kind" ;;
  esac
done < manifest.txt

# JPEG: the picture is right way up (a flipped one scores below 15 dB) and quality costs fidelity.
for key in "${!psnr[@]}"; do
  group=${key%.*}
  [ "${key##*.}" = 100 ] || continue
  q100=${psnr[$group.100]} q70=${psnr[$group.70]:-0} q20=${psnr[$group.20]:-0}
  case $group in *_1) continue ;; esac  # one column: too few pixels to rank
  awk -v a="$q100" -v b="$q70" -v c="$q20" 'BEGIN { exit !(a == "inf" || (a > 20 && a > b && b > c)) }' ||
    bad "JPEG $group PSNR q100 $q100, q70 $q70, q20 $q20"
done
echo "checked $checked files"
exit $fail
