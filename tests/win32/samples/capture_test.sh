#!/usr/bin/env bash
# qelvan-capture against the virtual camera: every subcommand with its exit code and output,
# files re-read by independent tools, and each kind of bad input refused with a clear message,
# a nonzero exit code and no file left behind.
. "$(dirname "$0")/lib.sh"
cap="$bin/qelvan-capture.exe"
vcam="$bin/vcam.exe"
# The library's stored settings: none at the start, and none left for the next program.
forget_settings() { wine reg delete 'HKCU\Software\Dovira\QelvanZ51QK2RVNSdk' /f </dev/null >/dev/null 2>&1; }
forget_settings
trap 'forget_settings; rm -rf "$work"' EXIT
wine "$vcam" reset >/dev/null 2>&1

# no_file NAME: neither the file nor its temporary sibling exists.
no_file() {
  [ ! -e "$work/$1" ] || fail "$label_now: left $1 behind"
  [ ! -e "$work/$1.partial" ] || fail "$label_now: left $1.partial behind"
}

# --- Bad command lines: refused before the camera is touched. ---
mkdir -p "$work/folder.png"
# Config files with a fault on a known line; bad.conf as Notepad writes it (byte order mark, CRLF).
printf '\xEF\xBB\xBF# set-up\r\ncamera = 0\r\ngain = 64\r\n' >"$work/bad.conf"
printf 'window = 0,0,64,48\ngian 20\n' >"$work/typo.conf"
printf 'auto-gain = yes\n' >"$work/flag.conf"
printf '\n\n--gain   # no value\n' >"$work/empty.conf"
while IFS='|' read -r want pattern args; do
  [ -n "$want" ] || continue
  # shellcheck disable=SC2086
  run "bad input: $args" "$cap" $args
  expect "$want" "$pattern"
  no_file f.png
done <<'CASES'
2|unknown command 'shoot'|shoot f.png
2|unknown option '--frobnicate'|snap --frobnicate 1 f.png
2|--gain 64 is out of range \(0\.\.63\)|snap --gain 64 f.png
2|--camera 32 is out of range|snap --camera 32 f.png
2|--window 700,0,100,10 does not fit|snap --window 700,0,100,10 f.png
2|--window needs X,Y,W,H|snap --window 1,2,3 f.png
2|--window needs X,Y,W,H|snap --window 1,2,3,4,5 f.png
2|--colour-mode 12 is not one of|snap --colour-mode 12 f.png
2|--brightness 256 is out of range|snap --brightness 256 f.png
2|--sharpness -1 is out of range|snap --sharpness -1 f.png
2|--exposure-us needs a whole number, got '12ms'|snap --exposure-us 12ms f.png
2|--subsample needs a value|snap f.png --subsample
2|--format 'gif' is not one of|snap --format gif f.png
2|cannot tell the format of 'f\.xyz'|snap f.xyz
2|record needs --seconds N|record f.avi
2|snap needs an output file|snap
2|stream takes no file argument|stream --seconds 1 f.png
4|cannot write 'missing/f\.png'|snap missing/f.png
4|cannot write 'folder\.png': it is a folder|snap folder.png
2|--quality is for JPEG files|snap --quality high f.png
2|--quality 'best' is not one of low, medium or high|snap --quality best f.jpg
2|--count and --quality are for snap and trigger|record --seconds 1 --count 2 f.avi
2|--count 0 is out of range|snap --count 0 f.png
2|--mirror 'x' is not one of none, h, v or hv|snap --mirror x f.png
2|--clock '30' is not one of|snap --clock 30 f.png
2|--white-balance 'once' is not one of off or auto|snap --white-balance once f.png
2|--auto-exposure and --auto-gain exclude each other|snap --auto-exposure --auto-gain f.png
2|--json is for list and info|snap --json f.png
2|--raw is for stream|snap --raw f.png
2|trigger needs --timeout S|trigger f.png
2|--timeout is for trigger|snap --timeout 3 f.png
2|usage: reg read R . reg write R V|reg frob 1
2|usage: reg read R|reg write 1
2|register 256 is out of range \(0\.\.255\)|reg read 256
2|value 0x10000 is out of range|reg write 1 0x10000
2|address needs a number .*got '12x'|rom read 12x
2|usage: .*port get|port set
2|bad\.conf:3: --gain 64 is out of range \(0\.\.63\)|snap --config bad.conf f.png
2|typo\.conf:2: unknown option '--gian'|snap --config typo.conf f.png
2|flag\.conf:1: --auto-gain takes no value|snap --config flag.conf f.png
2|empty\.conf:3: --gain needs a value|snap --config empty.conf f.png
2|cannot read the config file 'none\.conf'|snap --config none.conf f.png
2|--config needs a value|snap f.png --config
CASES
no_file f.xyz
no_file missing/f.png

run "help" "$cap" --help
expect 0 "usage: qelvan-capture"
# The header's version macro names the version the DLL carries in its resource.
rc_version=$(sed -n 's/.*VALUE "FileVersion", "\([0-9.]*\)".*/\1/p' "$top/src/resources/version.rc")
run "version" "$cap" --version
expect 0 "^qelvan-capture ${rc_version//./\\.} \(QelvanSdk\.h ${rc_version//./\\.}; Qelvan_GetDllVersion [0-9.]+\)"

# --- The camera. From here on the library must give a camera instance. ---
run "list" "$cap" list
if [ "$rc" != 0 ] && grep -q "ERR_NOT_READY" <<<"$out"; then
  echo "SKIP: the library reports ERR_NOT_READY for listing cameras; camera checks not run"
  [ "$failures" -eq 0 ] && exit 77
  finish
fi
expect 0 "^0 +QelvanZ51QK2-RVN_01 +free"
expect 0 "^1 camera$"

wine "$vcam" attach 2 --mono >/dev/null 2>&1
run "list with cameras 0 and 2" "$cap" list
expect 0 "^2 +QelvanZ51QK2-RVN_03 +free"
expect 0 "^2 cameras$"
run "no camera at number 5" "$cap" snap --camera 5 f.png
expect 3 "no camera at number 5"
no_file f.png

run "info" "$cap" info --camera 2 --window 16,8,320,240 --colour-mode 24
expect 0 "camera +2 +QelvanZ51QK2-RVN_03"
expect 0 "window +320 x 240 at 16, 8"
expect 0 "colour mode +24 "
expect 0 "exposure +[0-9]+ lines"

# --json: the same facts, for programs. python reads it; the cases name a path and its value.
# A config file's options count as if given where --config stands: later options override them.
printf '# camera set-up\ncamera 0\nwindow = 16,8,320,240   # centred\n--colour-mode 48\nmirror=hv\nauto-gain\n' \
  >"$work/cam.conf"
# command|python expression on the parsed JSON|expected
while IFS='|' read -r args expr want; do
  [ -n "$args" ] || continue
  # shellcheck disable=SC2086
  run "json: $args" "$cap" $args
  got=$(python3 -c "import json, sys; d = json.loads(sys.stdin.read()); print($expr)" <<<"$out" 2>&1)
  [ "$rc" = 0 ] && [ "$got" = "$want" ] || fail "json: $args: exit $rc, $expr gave '$got', expected '$want'"
done <<'JSON'
list --json|[(c['number'], c['name'], c['busy']) for c in d]|[(0, 'QelvanZ51QK2-RVN_01', False), (2, 'QelvanZ51QK2-RVN_03', False)]
info --json --camera 2 --window 16,8,320,240|(d['camera']['number'], d['window'])|(2, {'x': 16, 'y': 8, 'width': 320, 'height': 240})
info --json --colour-mode 48 --mirror hv --auto-gain|(d['colour_mode']['bits_per_pixel'], d['mirror'], d['automatic'])|(48, {'h': True, 'v': True}, 'gain')
info --json --mirror v --auto-exposure --clock 12|(d['mirror'], d['automatic'])|({'h': False, 'v': True}, 'exposure')
info --json --config cam.conf|(d['window'], d['colour_mode']['bits_per_pixel'], d['mirror'], d['automatic'])|({'x': 16, 'y': 8, 'width': 320, 'height': 240}, 48, {'h': True, 'v': True}, 'gain')
info --json --config cam.conf --window 0,0,64,48 --auto-exposure|(d['window'], d['automatic'])|({'x': 0, 'y': 0, 'width': 64, 'height': 48}, 'exposure')
info --json --window 0,0,64,48 --mirror none --config cam.conf|(d['window']['width'], d['mirror'])|(320, {'h': True, 'v': True})
JSON
forget_settings  # the options above are stored by the library for camera 0

# Registers, the serial ROM and the I/O port, checked against the virtual camera's own view.
wine "$vcam" rom 0 0x1805 0x5A >/dev/null 2>&1
# args|exit|output
while IFS='|' read -r args want pattern; do
  [ -n "$args" ] || continue
  # shellcheck disable=SC2086
  run "device: $args" "$cap" $args
  expect "$want" "$pattern"
done <<'DEVICE'
reg read 0|0|^register 0 = 4883 \(0x1313\)
reg write 100 0x1234|0|^register 100 <- 4660 \(0x1234\)
reg read 100|0|^register 100 = 4660
rom read 5|0|^rom 5 = 90 \(0x5A\)
port set 0xA5|0|^port <- 165 \(0xA5\)
port get|0|^port = 165 \(0xA5\)
reg read 1 --camera 5|3|no camera at number 5
DEVICE
wine "$vcam" regs 0 2>/dev/null | tr -d '\r' | grep -Eq '^ +96: 0000 0000 0000 0000 1234' \
  || fail "reg write 100: the camera's register 100 is not 0x1234"
wine "$vcam" detach 2 >/dev/null 2>&1
# A value only the library can judge: 10 us is less than one line of exposure.
run "exposure below one line" "$cap" snap --exposure-us 10 f.png
expect 3 "--exposure-us failed: ERR_ARGUMENT \(code 9\)"
no_file f.png

# --- Acquisition. Skipped, not failed, while the library cannot acquire at all yet (it fails
# with ERR_NOT_READY or without recording any error code). ---
run "acquisition probe" "$cap" snap probe.bmp
skipped=""
can_save=1
if [ "$rc" = 3 ] && grep -Eq "ERR_NOT_READY|no error code recorded" <<<"$out"; then
  skipped="snap, record, stream and busy-camera checks (the library cannot take a frame yet)"
  no_file probe.bmp
elif [ "$rc" = 4 ] && grep -Eq "could not save the frame \((ERR_NOT_READY|no error code recorded)" <<<"$out"; then
  skipped="snap and record checks (the library cannot save files yet)"
  can_save=0
  no_file probe.bmp
fi

if [ -z "$skipped" ] || [ "$can_save" = 0 ]; then
if [ "$can_save" = 1 ]; then
# --- snap: every format, re-read by tools that did not write it. ---
# name|options|tool check (identify's geometry and type, or a raw size)
while IFS='|' read -r file opts check; do
  [ -n "$file" ] || continue
  # shellcheck disable=SC2086
  run "snap $file" "$cap" snap $opts "$file"
  expect 0 "^snap: "
  [ -f "$work/$file" ] || { fail "snap $file: no file"; continue; }
  no_file "$file.partial"
  case $check in
    raw=*)
      size=$(stat -c %s "$work/$file")
      [ "$size" = "${check#raw=}" ] || fail "snap $file: $size bytes, expected ${check#raw=}"
      ;;
    *)
      seen=$(identify -format '%m %wx%h' "$work/$file" 2>&1)
      [ "$seen" = "$check" ] || fail "snap $file: identify saw '$seen', expected '$check'"
      ;;
  esac
done <<'SNAPS'
full.bmp|--colour-mode 24|BMP3 752x480
small.bmp|--colour-mode 8 --window 100,50,320,240|BMP3 320x240
frame.png|--colour-mode 24|PNG 752x480
deep.png|--colour-mode 48 --window 0,0,160,120|PNG 160x120
frame.jpg|--colour-mode 24 --gamma 120 --sharpness 4|JPEG 752x480
frame.tif|--colour-mode 32 --subsample 1|TIFF 376x240
frame.raw|--colour-mode 24|raw=1082880
mono.raw|--colour-mode 8 --window 0,0,750,10|raw=7520
forced.img|--format png --colour-mode 8|PNG 752x480
SNAPS
pngcheck -q "$work/frame.png" >/dev/null 2>&1 || fail "pngcheck rejects frame.png"
tiffinfo "$work/frame.tif" >/dev/null 2>&1 || fail "tiffinfo rejects frame.tif"
jpeginfo -c "$work/frame.jpg" >/dev/null 2>&1 || fail "jpeginfo rejects frame.jpg"
[ "$(identify -format '%[bit-depth]' "$work/deep.png")" = 16 ] || fail "deep.png is not 16 bits per sample"
# 10 significant bits of the 16 are declared; baseline TIFF readers find a resolution.
pngcheck -v "$work/deep.png" 2>&1 | grep -q "chunk sBIT" || fail "deep.png has no sBIT chunk"
tiffinfo "$work/frame.tif" 2>&1 | grep -q "Resolution: 72, 72 pixels/inch" || fail "frame.tif has no resolution"

# --quality: the three JPEG qualities give three sizes; --count: numbered files, spaced in time.
for q in low medium high; do
  run "snap --quality $q" "$cap" snap --quality "$q" --colour-mode 24 "q-$q.jpg"
  expect 0 "^snap: "
done
sizes="$(stat -c %s "$work/q-low.jpg" 2>/dev/null || echo 0) $(stat -c %s "$work/q-medium.jpg" 2>/dev/null || echo 0) $(stat -c %s "$work/q-high.jpg" 2>/dev/null || echo 0)"
read -r low medium high <<<"$sizes"
[ "$low" -gt 0 ] && [ "$low" -lt "$medium" ] && [ "$medium" -lt "$high" ] || fail "--quality: sizes low/medium/high $sizes"
run "snap --count 3 --interval 300" "$cap" snap --count 3 --interval 300 --colour-mode 8 --window 0,0,64,48 series.png
expect 0 "series-0003\.png at 0\.[6-9][0-9]* s|series-0003\.png at [1-9]"
for n in 1 2 3; do
  [ "$(identify -format '%m %wx%h' "$work/series-000$n.png" 2>&1)" = "PNG 64x48" ] || fail "--count: series-000$n.png missing or wrong"
done
no_file series.png
no_file series-0004.png
# The mirrors and the clock reach the camera: register 13's mirror bits, controller port 15.
run "snap --mirror hv --clock 12" "$cap" snap --mirror hv --clock 12 --colour-mode 8 mirrored.raw
expect 0 "^snap: "
regs=$(wine "$vcam" regs 0 2>/dev/null | tr -d '\r')
reg13=$(awk '$1 == "8:" { print $7 }' <<<"$regs")
[ $((0x${reg13:-FFFF} & 0x30)) = 0 ] || fail "--mirror hv: register 13 is ${reg13:-unreadable}, mirror bits not both clear"
run "info after --clock 12" "$cap" info
expect 0 "clock +12 MHz"
forget_settings

# File names beyond ASCII reach the library through its wide exports. The library passes them on
# in the system code page, so a name that code page cannot spell is refused up front.
# locale|command|exit|output|file made
while IFS='|' read -r loc args want pattern made; do
  [ -n "$loc" ] || continue
  if [ "$loc" != default ] && ! locale -a 2>/dev/null | grep -qix "${loc/UTF-8/utf8}"; then
    echo "--- $args under $loc: skipped, the locale is not generated"
    continue
  fi
  # shellcheck disable=SC2086
  if [ "$loc" = default ]; then run "$args" "$cap" $args; else LC_ALL=$loc run "$args under $loc" "$cap" $args; fi
  expect "$want" "$pattern"
  if [ -n "$made" ]; then
    [ -f "$work/$made" ] || fail "$label_now: no $made"
  else
    no_file "${args##* }"
  fi
done <<'NAMES'
default|snap --colour-mode 8 café.png|0|^snap: .* to café\.png|café.png
default|snap --colour-mode 8 フレーム.png|4|cannot write 'フレーム\.png': the camera library takes file names in the system code page \(1252\)|
ja_JP.UTF-8|snap --colour-mode 8 フレーム.png|0|^snap: .* to フレーム\.png|フレーム.png
ja_JP.UTF-8|record --seconds 1 --colour-mode 8 --window 0,0,64,48 録画.avi|0|^record: [1-9][0-9]* frames .* to 録画\.avi|録画.avi
NAMES

# trigger: one numbered file per external trigger; it ends at --count, or --timeout seconds after
# the last trigger. fired|options|exit|output|files
while IFS='|' read -r fired opts want pattern files; do
  [ -n "$fired" ] || continue
  rm -f "$work"/t-*.png
  # shellcheck disable=SC2086
  (cd "$work" && exec wine "$cap" trigger $opts --colour-mode 8 --window 0,0,64,48 t.png </dev/null >"$work/.trig" 2>&1) &
  waiter=$!
  for _ in $(seq 1 300); do grep -q "waiting for triggers" "$work/.trig" 2>/dev/null && break; sleep 0.1; done
  [ "$fired" = 0 ] || wine "$vcam" trigger 0 "$fired" >/dev/null 2>&1
  wait "$waiter"
  rc=$?
  label_now="trigger $opts, $fired fired"
  out=$(tr -d '\r' <"$work/.trig")
  echo "--- $label_now: exit $rc"
  expect "$want" "$pattern"
  got=$(cd "$work" && ls t-*.png 2>/dev/null | tr '\n' ' ')
  [ "$got" = "$files" ] || fail "$label_now: files '$got', expected '$files'"
done <<'TRIGGERS'
3|--timeout 30 --count 3|0|trigger: 3 frames saved|t-0001.png t-0002.png t-0003.png 
2|--timeout 2|0|trigger: 2 frames saved|t-0001.png t-0002.png 
4|--timeout 30 --count 1|0|trigger: 1 frame saved|t-0001.png 
0|--timeout 1|1|no trigger came within 1 s|
TRIGGERS
wine "$vcam" reset >/dev/null 2>&1

# Bitmaps of 10-bit samples, which viewers misread or refuse, are refused with a pointer to PNG or
# TIFF; the colour mode may come from the command line or from the stored settings.
for bits in 16 48 64; do
  run "snap a $bits-bit bitmap" "$cap" snap --colour-mode "$bits" --window 0,0,64,48 deep.bmp
  expect 2 "a $bits-bit frame cannot be saved as a bitmap .*use \.png or \.tif"
  no_file deep.bmp
done

# --- record, cut short: the file keeps what was recorded, the exit code and message say why. ---
# how|exit|message. The recording asks for far longer than it runs. The program runs under the
# Wine loader of its own bitness, so that Ctrl+C (SIGINT to that process) reaches it: `wine`
# starts a 64-bit program through start.exe, in another process.
loader=wine
if x86_64-w64-mingw32-objdump -p "$cap" | grep -q 'PE32+' && [ -x /usr/lib/wine/wine64 ]; then
  loader=/usr/lib/wine/wine64
fi
while IFS='|' read -r how want pattern; do
  [ -n "$how" ] || continue
  wine "$vcam" reset >/dev/null 2>&1
  rm -f "$work/cut.avi"
  (cd "$work" && exec "$loader" "$cap" record --seconds 60 --colour-mode 8 --window 0,0,160,120 cut.avi \
     </dev/null >"$work/.cut" 2>&1) &
  recorder=$!
  for _ in $(seq 1 200); do  # until frames are being written
    [ "$(stat -c %s "$work/cut.avi.partial" 2>/dev/null || echo 0)" -gt 200000 ] && break
    sleep 0.1
  done
  case $how in
    unplugged) wine "$vcam" detach 0 >/dev/null 2>&1 ;;
    interrupted) kill -INT "$recorder" ;;
  esac
  wait "$recorder"
  rc=$?
  label_now="record, $how"
  out=$(tr -d '\r' <"$work/.cut")
  echo "--- $label_now: exit $rc"
  echo "$out" | tail -n 3 | sed 's/^/    /'
  expect "$want" "$pattern"
  said=$(sed -n 's/^record: \([0-9]*\) frames in [0-9.]* s .*60 s asked.*/\1/p' <<<"$out")
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$work/cut.avi" 2>&1)
  [ -n "$said" ] && [ "$frames" = "$said" ] || fail "$label_now: ffprobe saw '$frames' frames, the sample said '$said'"
  no_file cut.avi.partial
done <<'CUTS'
unplugged|3|the camera was lost: the recording ended after [0-9.]+ of 60 s; cut\.avi holds
interrupted|130|interrupted: the recording was stopped after [0-9.]+ of 60 s
CUTS
wine "$vcam" reset >/dev/null 2>&1

# --- record: the frame count from the file itself. ---
run "record" "$cap" record --seconds 2 --colour-mode 8 --window 0,0,320,240 clip.avi
expect 0 "^record: [1-9][0-9]* frames in 2\.[0-9] s .*2 s asked"
if [ -f "$work/clip.avi" ]; then
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,width,height \
    -of csv=p=0 "$work/clip.avi" 2>&1)
  said=$(sed -n 's/^record: \([0-9]*\) frames.*/\1/p' <<<"$out")
  [ "$frames" = "320,240,$said" ] || fail "record: ffprobe saw '$frames', the sample said $said frames of 320x240"
  # Into a file the progress is plain lines: no carriage return but the line ends.
  ! sed 's/\r$//' "$work/.output" | grep -q $'\r' || fail "record: progress redrawn with \\r into a file"
else
  fail "record: no clip.avi"
fi
no_file clip.avi.partial
fi  # files

# --- stream: frames arrive, and the result line adds up. ---
run "stream" "$cap" stream --seconds 2 --window 0,0,376,240 --colour-mode 24
expect 0 "^stream: [1-9][0-9]* frames received in [0-9.]+ s .*376 x 240 at 24 bits; camera made [0-9]+, lost [0-9]+"

# stream --raw: the frames themselves on standard output, the report on standard error; the
# window holds only colour bars, which do not move, so every frame is the one snap saves.
# options|bytes a frame
while IFS='|' read -r opts size; do
  [ -n "$opts" ] || continue
  # shellcheck disable=SC2086
  (cd "$work" && wine "$cap" stream --raw --seconds 1 $opts </dev/null >"$work/frames.bin" 2>"$work/.raw")
  rc=$?
  said=$(tr -d '\r' <"$work/.raw" | sed -n 's/^stream: \([0-9]*\) frames received.*/\1/p')
  bytes=$(stat -c %s "$work/frames.bin")
  [ "$rc" = 0 ] && [ -n "$said" ] && [ "$said" -gt 0 ] && [ "$bytes" = $((said * size)) ] \
    || fail "stream --raw $opts: exit $rc, $bytes bytes for '$said' frames of $size"
  # shellcheck disable=SC2086
  (cd "$work" && wine "$cap" snap $opts one.raw </dev/null >/dev/null 2>&1)
  cmp -s <(head -c "$size" "$work/frames.bin") "$work/one.raw" || fail "stream --raw $opts: the first frame is not the snapped one"
done <<'RAW'
--colour-mode 8 --window 0,0,64,48|3072
--colour-mode 24 --window 0,0,50,40|6080
RAW
# A reader that stops early ends the stream instead of leaving it writing for its 60 seconds.
got=$(cd "$work" && wine "$cap" stream --raw --seconds 60 2>"$work/.raw" </dev/null | head -c 100000 | wc -c)
secs=$(tr -d '\r' <"$work/.raw" | sed -n 's/^stream: [0-9]* frames received in \([0-9]*\)\..*/\1/p')
[ "$got" = 100000 ] && [ -n "$secs" ] && [ "$secs" -lt 50 ] || fail "stream --raw into head: $got bytes, stream ran '$secs' s"

# wait_busy: until list shows camera 0 busy, held by another program that streams.
wait_busy() {
  local _
  for _ in $(seq 1 100); do
    (cd "$work" && wine "$cap" list 2>/dev/null | tr -d '\r' | grep -Eq "^0 +QelvanZ51QK2-RVN_01 +busy") && return 0
    sleep 0.3
  done
  fail "list never showed camera 0 busy while another program streamed"
}

# --- A busy camera: another program streams from it. ---
# The holder streams for a few seconds and ends on its own, releasing the camera properly.
(cd "$work" && exec wine "$cap" stream --seconds 8 >"$work/.holder" 2>&1) &
holder=$!
wait_busy
run "busy camera" "$cap" snap busy.png
expect 3 "camera 0 .*busy"
no_file busy.png
wait "$holder" || fail "the program holding the camera failed: $(tr -d '\r' <"$work/.holder" | tail -n 2)"

# A program that ended without releasing its camera leaves its claim behind; the library does not
# count it, and neither do the samples.
(cd "$work" && exec wine "$cap" stream --seconds 60 >/dev/null 2>&1) &
holder=$!
wait_busy
kill -KILL "$holder"
wait "$holder" 2>/dev/null
run "list after the holder was killed" "$cap" list
expect 0 "^0 +QelvanZ51QK2-RVN_01 +free"
run "snap after the holder was killed" "$cap" snap freed.png
expect 0 "^snap: "

fi  # acquisition

# --- No camera at all. ---
wine "$vcam" detach 0 >/dev/null 2>&1
run "no camera" "$cap" list
expect 3 "no camera found"
run "no camera: snap" "$cap" snap gone.png
expect 3 "no camera"
no_file gone.png
wine "$vcam" reset >/dev/null 2>&1

if [ -n "$skipped" ] && [ "$failures" -eq 0 ]; then
  echo "SKIP: $skipped"
  exit 77
fi
finish
