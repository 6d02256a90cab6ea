#!/usr/bin/env bash
# Opt-in 64-bit Windows build: installs the x86-64 cross compiler and cross-builds the image
# libraries for x86-64 into their own prefix, beside the i686 ones. Reuses the source packages
# that setup.sh downloaded. Idempotent.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cache="$top/build/thirdparty"
prefix="$cache/install-x64"
sysroot=/usr/x86_64-w64-mingw32
jobs=${JOBS:-2}

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
need_pkgs=()
for p in g++-mingw-w64-x86-64 libz-mingw-w64-dev; do
  have "$p" || need_pkgs+=("$p")
done
if [ ${#need_pkgs[@]} -gt 0 ]; then
  echo "setup-win64: installing ${need_pkgs[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" >/dev/null \
    || { apt-get update -qq && apt-get install -y -q --no-install-recommends "${need_pkgs[@]}"; }
fi

if [ ! -f "$prefix/.done" ]; then
  mkdir -p "$cache/src" "$prefix"
  cd "$cache/src"
  for pkg in libjpeg-turbo libpng1.6 tiff; do
    ls -d "$pkg"-*/ >/dev/null 2>&1 || apt-get source -qq "$pkg" >/dev/null
  done
  tc="$top/cmake/mingw-x86_64.cmake"
  common=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=Release
          -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix;$sysroot")
  cmake -S libjpeg-turbo-*/ -B b64-jpeg "${common[@]}" -DWITH_JPEG8=ON -DENABLE_SHARED=OFF \
        -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DCMAKE_SYSTEM_PROCESSOR=x86_64 >/dev/null
  cmake --build b64-jpeg -j"$jobs" >/dev/null && cmake --install b64-jpeg >/dev/null
  cmake -S libpng1.6-*/ -B b64-png "${common[@]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
        -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY=$sysroot/lib/libz.a \
        -DZLIB_INCLUDE_DIR=$sysroot/include >/dev/null
  cmake --build b64-png -j"$jobs" >/dev/null && cmake --install b64-png >/dev/null
  cmake -S tiff-*/ -B b64-tiff "${common[@]}" -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF \
        -Dtiff-contrib=OFF -Dtiff-docs=OFF -Djpeg=OFF -Dzlib=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF \
        -Djbig=OFF -Dlerc=OFF -Dlibdeflate=OFF -Dpixarlog=OFF -Dold-jpeg=OFF -Dcxx=OFF >/dev/null
  cmake --build b64-tiff -j"$jobs" >/dev/null && cmake --install b64-tiff >/dev/null
  touch "$prefix/.done"
fi
echo "setup-win64: ok"
