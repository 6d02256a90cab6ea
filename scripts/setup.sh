#!/usr/bin/env bash
# Installs what the build needs and cross-builds the image libraries once.
# Idempotent: every step checks first and is skipped when already done.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cache="$top/build/thirdparty"

need_pkgs=()
need_update=0
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# The SDK package (COFF import library, zip) and the README's Japanese screenshots.
for p in llvm zip unzip fonts-ipafont-gothic; do
  have "$p" || need_pkgs+=("$p")
done

# deb-src for the image libraries' source packages.
src_list=/etc/apt/sources.list.d/qelvan-src.sources
if [ ! -f "$src_list" ]; then
  # The main suite only: the security mirror serves no source packages here.
  awk 'BEGIN{RS="";ORS="\n\n"} /debian-security/ {next} {sub(/Types: deb\n/,"Types: deb-src\n"); print}' \
      /etc/apt/sources.list.d/debian.sources > "$src_list"
  need_update=1
fi

for p in wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 xvfb nasm cmake make \
         libz-mingw-w64-dev googletest libgtest-dev libbenchmark-dev \
         imagemagick pngcheck libtiff-tools jpeginfo libjpeg-turbo-progs ffmpeg \
         libopencv-imgproc-dev xauth x11-utils dpkg-dev \
         locales fonts-ipafont-gothic; do
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

# Cross-built libjpeg-turbo (jpeg8 API), libpng, libtiff: static, into the cache, once for each
# Windows build (i686 and x86-64).
thirdparty() {
  local prefix=$1 tc=$2 sysroot=$3 cpu=$4 b=b-$4
  [ -f "$prefix/.done" ] && return 0
  mkdir -p "$cache/src" "$prefix"
  cd "$cache/src"
  [ "$need_update" = 1 ] && { apt-get update -qq; need_update=0; }
  for pkg in libjpeg-turbo libpng1.6 tiff; do
    ls -d "$pkg"-*/ >/dev/null 2>&1 || apt-get source -qq "$pkg" >/dev/null
  done
  local common=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=Release
                -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix;$sysroot")
  local jobs
  jobs=$(nproc)
  cmake -S libjpeg-turbo-*/ -B "$b-jpeg" "${common[@]}" -DWITH_JPEG8=ON -DENABLE_SHARED=OFF \
        -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DCMAKE_SYSTEM_PROCESSOR="$cpu" >/dev/null
  cmake --build "$b-jpeg" -j"$jobs" >/dev/null && cmake --install "$b-jpeg" >/dev/null
  cmake -S libpng1.6-*/ -B "$b-png" "${common[@]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
        -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY="$sysroot/lib/libz.a" \
        -DZLIB_INCLUDE_DIR="$sysroot/include" >/dev/null
  cmake --build "$b-png" -j"$jobs" >/dev/null && cmake --install "$b-png" >/dev/null
  cmake -S tiff-*/ -B "$b-tiff" "${common[@]}" -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF \
        -Dtiff-contrib=OFF -Dtiff-docs=OFF -Djpeg=OFF -Dzlib=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF \
        -Djbig=OFF -Dlerc=OFF -Dlibdeflate=OFF -Dpixarlog=OFF -Dold-jpeg=OFF -Dcxx=OFF >/dev/null
  cmake --build "$b-tiff" -j"$jobs" >/dev/null && cmake --install "$b-tiff" >/dev/null
  touch "$prefix/.done"
}
thirdparty "$cache/install" "$top/cmake/mingw-i686.cmake" /usr/i686-w64-mingw32 i686
thirdparty "$cache/install-x64" "$top/cmake/mingw-x86_64.cmake" /usr/x86_64-w64-mingw32 x86_64

# The Japanese dialog tests need a Japanese system locale under Wine.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
echo "setup: ok"
