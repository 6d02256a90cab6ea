#!/usr/bin/env bash
# Makes the SDK package: dist/QelvanSdk-<version>-win32.zip with the header, a COFF import
# library that MinGW and MSVC linkers accept, the .def, a CMake package configuration, the DLL,
# the virtual camera with its installer script, and the samples' sources.
# Usage: scripts/dist.sh [BUILD_BIN_DIR] [OUT_DIR]   (defaults build/win32/bin, dist)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$top/build/win32/bin}" && pwd)
mkdir -p "${2:-$top/dist}"
out=$(cd "${2:-$top/dist}" && pwd)

version=$(sed -n 's/.*VALUE "FileVersion", "\([0-9.]*\)".*/\1/p' "$top/src/resources/version.rc")
[ -n "$version" ] || { echo "dist: no FileVersion in src/resources/version.rc" >&2; exit 1; }
name="QelvanSdk-$version-win32"

for f in QelvanSdk_Z51QK2_RVN.dll vcam.exe qlvnvcam.sys; do
  [ -f "$bin/$f" ] || { echo "dist: $bin/$f is missing (run make build first)" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg="$stage/$name"
mkdir -p "$pkg/include" "$pkg/lib/cmake/QelvanSdk" "$pkg/bin" "$pkg/samples"

cp "$top/include/QelvanSdk.h" "$pkg/include/"

# The import library in the short import format that MSVC's lib.exe writes; GNU ld reads it too.
def="$pkg/lib/QelvanSdk_Z51QK2_RVN.def"
cp "$top/src/api/QelvanSdk.def" "$def"
if command -v llvm-dlltool >/dev/null; then
  llvm-dlltool -m i386 -d "$def" -l "$pkg/lib/QelvanSdk_Z51QK2_RVN.lib"
else
  i686-w64-mingw32-dlltool -m i386 -d "$def" -D QelvanSdk_Z51QK2_RVN.dll -l "$pkg/lib/QelvanSdk_Z51QK2_RVN.lib"
fi
sed "s/@VERSION@/$version/" "$top/scripts/dist/QelvanSdkConfigVersion.cmake.in" \
  > "$pkg/lib/cmake/QelvanSdk/QelvanSdkConfigVersion.cmake"
cp "$top/scripts/dist/QelvanSdkConfig.cmake" "$pkg/lib/cmake/QelvanSdk/"
cp "$top/cmake/mingw-i686.cmake" "$pkg/lib/cmake/QelvanSdk/"

cp "$bin/QelvanSdk_Z51QK2_RVN.dll" "$bin/vcam.exe" "$bin/qlvnvcam.sys" "$pkg/bin/"
cp "$top/scripts/dist/install-virtual-camera.sh" "$pkg/bin/"
chmod +x "$pkg/bin/install-virtual-camera.sh"

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
