#!/usr/bin/env bash
# Makes the SDK package: dist/QelvanSdk-<version>-windows.zip with the header, for each of 32-bit
# (x86) and 64-bit (x64) Windows the DLL, a COFF import library that MinGW and MSVC linkers
# accept and the .def, one CMake package configuration that picks the build matching the
# compiler, the virtual camera (64-bit driver, controller, installer script), the samples'
# sources and the API reference (doc/html, made by scripts/docs.sh).
# Usage: scripts/dist.sh [OUT_DIR]   (default dist; the builds come from build/win32 and
# build/win64, or QELVAN_WIN32_BIN / QELVAN_WIN64_BIN)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:-$top/dist}"
out=$(cd "${1:-$top/dist}" && pwd)
declare -A bins=([x86]="${QELVAN_WIN32_BIN:-$top/build/win32/bin}" [x64]="${QELVAN_WIN64_BIN:-$top/build/win64/bin}")
declare -A machine=([x86]=i386 [x64]=i386:x86-64)
declare -A dlltool=([x86]=i686-w64-mingw32-dlltool [x64]=x86_64-w64-mingw32-dlltool)

version=$(sed -n 's/.*VALUE "FileVersion", "\([0-9.]*\)".*/\1/p' "$top/src/resources/version.rc")
[ -n "$version" ] || { echo "dist: no FileVersion in src/resources/version.rc" >&2; exit 1; }
name="QelvanSdk-$version-windows"

for arch in x86 x64; do
  [ -f "${bins[$arch]}/QelvanSdk_Z51QK2_RVN.dll" ] \
    || { echo "dist: ${bins[$arch]}/QelvanSdk_Z51QK2_RVN.dll is missing (run make build first)" >&2; exit 1; }
done
for f in vcam.exe qlvnvcam.sys; do
  [ -f "${bins[x64]}/$f" ] || { echo "dist: ${bins[x64]}/$f is missing (run make build first)" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg="$stage/$name"
mkdir -p "$pkg/include" "$pkg/lib/cmake/QelvanSdk" "$pkg/virtual-camera" "$pkg/samples"

cp "$top/include/QelvanSdk.h" "$pkg/include/"
"$top/scripts/docs.sh" "$stage/docs" >/dev/null || { echo "dist: the API reference could not be made" >&2; exit 1; }
mkdir -p "$pkg/doc"
cp -r "$stage/docs/html" "$pkg/doc/"

for arch in x86 x64; do
  mkdir -p "$pkg/bin/$arch" "$pkg/lib/$arch"
  cp "${bins[$arch]}/QelvanSdk_Z51QK2_RVN.dll" "$pkg/bin/$arch/"
  # The import library in the short import format that MSVC's lib.exe writes; GNU ld reads it too.
  def="$pkg/lib/$arch/QelvanSdk_Z51QK2_RVN.def"
  cp "$top/src/api/QelvanSdk.def" "$def"
  if command -v llvm-dlltool >/dev/null; then
    llvm-dlltool -m "${machine[$arch]}" -d "$def" -l "$pkg/lib/$arch/QelvanSdk_Z51QK2_RVN.lib"
  else
    "${dlltool[$arch]}" -d "$def" -D QelvanSdk_Z51QK2_RVN.dll -l "$pkg/lib/$arch/QelvanSdk_Z51QK2_RVN.lib"
  fi
done
sed "s/@VERSION@/$version/" "$top/scripts/dist/QelvanSdkConfigVersion.cmake.in" \
  > "$pkg/lib/cmake/QelvanSdk/QelvanSdkConfigVersion.cmake"
cp "$top/scripts/dist/QelvanSdkConfig.cmake" "$top/cmake/mingw-i686.cmake" "$top/cmake/mingw-x86_64.cmake" \
   "$pkg/lib/cmake/QelvanSdk/"

cp "${bins[x64]}/vcam.exe" "${bins[x64]}/qlvnvcam.sys" "$pkg/virtual-camera/"
cp "$top/scripts/dist/install-virtual-camera.sh" "$top/scripts/dist/vcam-service.sh" "$pkg/virtual-camera/"
chmod +x "$pkg/virtual-camera/install-virtual-camera.sh"

cp "$top/samples/CMakeLists.txt" "$pkg/samples/"
for d in capture viewer; do
  [ -d "$top/samples/$d" ] || continue
  mkdir -p "$pkg/samples/$d"
  find "$top/samples/$d" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.rc' -o -name '*.manifest' \) \
    -exec cp {} "$pkg/samples/$d/" \;
done
sed "s/@VERSION@/$version/" "$top/scripts/dist/README.txt" > "$pkg/README.txt"

zip_file="$out/$name.zip"
rm -f "$zip_file"
(cd "$stage" && TZ=UTC find "$name" -exec touch -d '2026-01-01 00:00:00' {} + && zip -qrX "$zip_file" "$name")
echo "$zip_file"
