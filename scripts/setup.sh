#!/usr/bin/env bash
# Installs what the build needs and cross-builds the image libraries once.
# Idempotent: every step checks first and is skipped when already done; a run that was
# interrupted or failed is completed by the next one.
#
# Usage: scripts/setup.sh [STEP...]   steps: packages sources thirdparty locale (default: all)
# Environment:
#   QELVAN_APT_SOURCES       the distribution's package sources (default: the deb822 file
#                            /etc/apt/sources.list.d/debian.sources when it exists, else the
#                            one-line /etc/apt/sources.list)
#   QELVAN_APT_SRC_LIST      where the source-package entries go (default:
#                            /etc/apt/sources.list.d/qelvan-src.sources, or .list for one-line)
#   QELVAN_THIRDPARTY_CACHE  where the image libraries are built (default: build/thirdparty)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cache=${QELVAN_THIRDPARTY_CACHE:-$top/build/thirdparty}
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(packages sources thirdparty locale)

need_update=0
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
die() {
  echo "setup: $*" >&2
  exit 1
}

packages() {
  local need_pkgs=()
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    need_update=1
  fi
  # The SDK package (COFF import library, zip, the API reference), the README's Japanese
  # screenshots, and Wine's Marlett font, which draws the title-bar buttons.
  for p in llvm zip unzip doxygen fonts-ipafont-gothic fonts-wine; do
    have "$p" || need_pkgs+=("$p")
  done
  for p in wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 xvfb nasm cmake make \
           libz-mingw-w64-dev googletest libgtest-dev libbenchmark-dev \
           imagemagick pngcheck libtiff-tools jpeginfo libjpeg-turbo-progs ffmpeg \
           libopencv-imgproc-dev xauth x11-utils dpkg-dev \
           locales; do
    have "$p" || need_pkgs+=("$p")
  done
  if [ ${#need_pkgs[@]} -gt 0 ]; then
    echo "setup: installing ${need_pkgs[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    need_update=0
    apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" >/dev/null \
      || { apt-get update -qq && apt-get install -y -q --no-install-recommends "${need_pkgs[@]}"; }
  fi
}

# Writes source-package (deb-src) entries for the main suites of the given sources file, in the
# same format: deb822 stanzas ("Types: deb") or one-line entries ("deb URI SUITE COMPONENTS").
# The security mirror serves no source packages, so its entries are left out.
src_entries() {
  local from=$1
  if grep -Eq '^[[:space:]]*Types:' "$from"; then
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /debian-security/ { next }
         /(^|\n)[[:space:]]*Types:[^\n]*deb([[:space:]]|$)/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$from"
  else
    awk '/debian-security/ { next }
         /^[[:space:]]*deb[[:space:]]/ { sub(/deb/, "deb-src"); print }' "$from"
  fi
}

sources() {
  local from=${QELVAN_APT_SOURCES:-}
  if [ -z "$from" ]; then
    from=/etc/apt/sources.list.d/debian.sources
    [ -f "$from" ] || from=/etc/apt/sources.list
  fi
  [ -f "$from" ] || die "no package sources at $from (set QELVAN_APT_SOURCES to the file that lists them)"
  local ext=list
  grep -Eq '^[[:space:]]*Types:' "$from" && ext=sources
  local out=${QELVAN_APT_SRC_LIST:-/etc/apt/sources.list.d/qelvan-src.$ext}
  # An empty file is what an interrupted older run left: made again.
  [ -s "$out" ] && return 0
  local entries
  entries=$(src_entries "$from")
  [ -n "$entries" ] || die "found no Debian package source in $from to add source packages for"
  # Written whole or not at all.
  printf '%s\n' "$entries" >"$out.tmp"
  mv "$out.tmp" "$out"
  need_update=1
}

# run_quiet LOG COMMAND...: runs a build step with its output in LOG; on failure shows the end
# of LOG (where the error is) and stops.
run_quiet() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    echo "setup: failed: $*" >&2
    tail -n 40 "$log" >&2
    die "see $log for the whole output"
  fi
}

# Cross-built libjpeg-turbo (jpeg8 API), libpng, libtiff: static, into the cache, once for each
# Windows build (i686 and x86-64).
thirdparty_one() {
  local prefix=$1 tc=$2 sysroot=$3 cpu=$4 b=b-$4
  [ -f "$prefix/.done" ] && return 0
  mkdir -p "$cache/src" "$prefix"
  cd "$cache/src"
  local pkg
  for pkg in libjpeg-turbo libpng1.6 tiff; do
    # A source tree counts once it was fetched and unpacked whole.
    [ -f "$pkg.fetched" ] && continue
    rm -rf "$pkg"-*/ "$pkg"_*
    [ "$need_update" = 1 ] && { apt-get update -qq; need_update=0; }
    run_quiet "$cache/src/$pkg.log" apt-get source -q "$pkg"
    touch "$pkg.fetched"
  done
  local common=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=Release
                -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix;$sysroot")
  local jobs log="$cache/build-$cpu.log"
  jobs=$(nproc)
  echo "setup: building the image libraries for $cpu (log: $log)"
  run_quiet "$log" cmake -S libjpeg-turbo-*/ -B "$b-jpeg" "${common[@]}" -DWITH_JPEG8=ON -DENABLE_SHARED=OFF \
    -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DCMAKE_SYSTEM_PROCESSOR="$cpu"
  run_quiet "$log" cmake --build "$b-jpeg" -j"$jobs"
  run_quiet "$log" cmake --install "$b-jpeg"
  run_quiet "$log" cmake -S libpng1.6-*/ -B "$b-png" "${common[@]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
    -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY="$sysroot/lib/libz.a" \
    -DZLIB_INCLUDE_DIR="$sysroot/include"
  run_quiet "$log" cmake --build "$b-png" -j"$jobs"
  run_quiet "$log" cmake --install "$b-png"
  run_quiet "$log" cmake -S tiff-*/ -B "$b-tiff" "${common[@]}" -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF \
    -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Djpeg=OFF -Dzlib=OFF -Dlzma=OFF -Dzstd=OFF \
    -Dwebp=OFF -Djbig=OFF -Dlerc=OFF -Dlibdeflate=OFF -Dpixarlog=OFF -Dold-jpeg=OFF -Dcxx=OFF
  run_quiet "$log" cmake --build "$b-tiff" -j"$jobs"
  run_quiet "$log" cmake --install "$b-tiff"
  touch "$prefix/.done"
}

thirdparty() {
  thirdparty_one "$cache/install" "$top/cmake/mingw-i686.cmake" /usr/i686-w64-mingw32 i686
  thirdparty_one "$cache/install-x64" "$top/cmake/mingw-x86_64.cmake" /usr/x86_64-w64-mingw32 x86_64
}

# The Japanese dialog tests need a Japanese system locale under Wine.
locale_ja() {
  if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
}

for step in "${steps[@]}"; do
  case $step in
    packages) packages ;;
    sources) sources ;;
    thirdparty) thirdparty ;;
    locale) locale_ja ;;
    *) die "unknown step '$step' (packages, sources, thirdparty, locale)" ;;
  esac
done
echo "setup: ok"
