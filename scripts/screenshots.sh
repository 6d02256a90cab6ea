#!/usr/bin/env bash
# Screenshots for the README: the viewer and each settings dialog, in English and Japanese, and
# the dialogs with pages once more in English at 144 DPI, taken under Xvfb by the viewer's test
# driver and written as small PNG files.
# Usage: scripts/screenshots.sh [DIR]   (default docs/images)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${QELVAN_WINE_SESSION:-}" ]; then
  exec "$top/scripts/winsession" "$0" "$@"
fi
bin=${QELVAN_WIN_BIN:-$top/build/win32/bin}
dest=${1:-$top/docs/images}
mkdir -p "$dest"
shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
failed=0
# Without a window manager on the Xvfb display, Wine draws the title bars itself only when
# told to; the setting is taken back at the end.
x11key='HKCU\Software\Wine\X11 Driver'
# Wine reads the display's DPI when a program starts; the 144 DPI run sets it just for itself.
dpikey='HKCU\Control Panel\Desktop'
wine reg add "$x11key" /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
trap 'wine reg delete "$x11key" /v Decorated /f >/dev/null 2>&1; wine reg delete "$dpikey" /v LogPixels /f >/dev/null 2>&1; rm -rf "$shots"' EXIT
for lang in en ja en-144dpi; do
  mkdir -p "$shots/$lang"
  if [ "$lang" = ja ]; then locale=ja_JP.UTF-8; else locale=en_US.UTF-8; fi
  if [ "$lang" = en-144dpi ]; then
    wine reg add "$dpikey" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
  fi
  # The driver saves each window as a BMP when QELVAN_SHOTS names a folder.
  LC_ALL=$locale QELVAN_SHOTS="Z:${shots//\//\\}\\$lang" wine "$bin/viewer_tests.exe" >"$shots/$lang.log" 2>&1
  rc=$?
  if [ "$rc" = 77 ]; then
    echo "screenshots: in '$lang' the library could not show everything yet:" >&2
    grep -A1 "Skipped" "$shots/$lang.log" | tail -n 1 >&2
    failed=1
  elif [ "$rc" != 0 ]; then
    echo "screenshots: the viewer run in '$lang' failed (exit $rc):" >&2
    tail -n 5 "$shots/$lang.log" >&2
    failed=1
  fi
  if [ "$lang" = en-144dpi ]; then
    wine reg delete "$dpikey" /v LogPixels /f >/dev/null 2>&1
  fi
  for bmp in "$shots/$lang"/*.bmp; do
    [ -f "$bmp" ] || continue
    # At 144 DPI only the dialogs whose pages sit in the tab.
    case "$lang:$(basename "$bmp")" in
      en-144dpi:analog-dialog.bmp | en-144dpi:image-dialog.bmp | en:* | ja:*) ;;
      *) continue ;;
    esac
    png="$dest/$(basename "$bmp" .bmp)-$lang.png"
    # A palette of 64 colours keeps each image well under 150 KB; shrink further if needed.
    for colours in 64 32 16; do
      convert "$bmp" -dither None -colors "$colours" -strip "PNG8:$png"
      [ "$(stat -c %s "$png")" -lt 150000 ] && break
    done
    echo "$png ($(stat -c %s "$png") bytes)"
  done
done
exit $failed
