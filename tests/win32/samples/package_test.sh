#!/usr/bin/env bash
# The SDK package: made by scripts/dist.sh, unpacked in a temporary folder, its capture sample
# built against the package alone with the cross compiler of this build's bitness (the build
# folder given), then run under Wine.
. "$(dirname "$0")/lib.sh"

# The build's bitness: its DLL is PE32+ for x64.
if x86_64-w64-mingw32-objdump -p "$bin/QelvanSdk_Z51QK2_RVN.dll" | grep -q 'PE32+'; then
  arch=x64 cross=x86_64-w64-mingw32 toolchain=mingw-x86_64.cmake pe='PE32\+'
  imp='__imp_'
else
  arch=x86 cross=i686-w64-mingw32 toolchain=mingw-i686.cmake pe='PE32[^+]'
  imp='__imp__'
fi

"$top/scripts/dist.sh" "$work/dist" >/dev/null || { echo "FAIL: dist.sh"; exit 1; }
zip=$(ls "$work"/dist/QelvanSdk-*-windows.zip 2>/dev/null)
[ -n "$zip" ] || { echo "FAIL: no QelvanSdk-<version>-windows.zip"; exit 1; }
(cd "$work" && unzip -q "$zip")
pkg=$(ls -d "$work"/QelvanSdk-*-windows)

for f in include/QelvanSdk.h lib/cmake/QelvanSdk/QelvanSdkConfig.cmake lib/cmake/QelvanSdk/QelvanSdkConfigVersion.cmake \
         lib/x86/QelvanSdk_Z51QK2_RVN.lib lib/x86/QelvanSdk_Z51QK2_RVN.def bin/x86/QelvanSdk_Z51QK2_RVN.dll \
         lib/x64/QelvanSdk_Z51QK2_RVN.lib lib/x64/QelvanSdk_Z51QK2_RVN.def bin/x64/QelvanSdk_Z51QK2_RVN.dll \
         virtual-camera/vcam.exe virtual-camera/qlvnvcam.sys virtual-camera/install-virtual-camera.sh \
         virtual-camera/vcam-service.sh samples/CMakeLists.txt samples/capture/capture.cpp README.txt \
         doc/html/index.html; do
  [ -f "$pkg/$f" ] || fail "package lacks $f"
done
grep -q "not for real Windows" "$pkg/virtual-camera/install-virtual-camera.sh" || fail "the installer does not warn about real Windows"
# A 32-bit prefix cannot load the 64-bit driver: refused before anything is made in it.
msg=$(WINEARCH=win32 WINEPREFIX="$work/prefix32" bash "$pkg/virtual-camera/install-virtual-camera.sh" 2>&1)
[ $? = 1 ] && grep -q "32-bit Wine prefix" <<<"$msg" && [ ! -e "$work/prefix32" ] \
  || fail "the installer did not refuse a 32-bit prefix clearly: $msg"
# The API reference gives every export of the .def a section of its own, on its group's page.
exported=$(sed -n 's/^  *\(Qelvan_[A-Za-z_0-9]*\).*/\1/p' "$pkg/lib/x86/QelvanSdk_Z51QK2_RVN.def" | sort -u)
documented=$(cat "$pkg"/doc/html/group__*.html 2>/dev/null | grep -o '</span>Qelvan_[A-Za-z_0-9]*()</h2>' \
  | sed 's/<\/span>\(.*\)()<\/h2>/\1/' | sort -u)
[ "$documented" = "$exported" ] \
  || fail "the API reference's sections and the exports differ: $(comm -3 <(echo "$documented") <(echo "$exported") | tr -d '\t' | head -c 300)"
# Each DLL of its own bitness with all 124 exports; the driver is 64-bit.
for a in x86 x64; do
  want='PE32[^+]'
  [ "$a" = x64 ] && want='PE32\+'
  x86_64-w64-mingw32-objdump -p "$pkg/bin/$a/QelvanSdk_Z51QK2_RVN.dll" | grep -Eq "Magic.*\($want" || fail "bin/$a holds a DLL of the other bitness"
  n=$(x86_64-w64-mingw32-objdump -p "$pkg/bin/$a/QelvanSdk_Z51QK2_RVN.dll" | grep -c '^\s*\[ *[0-9]*\] Qelvan_')
  [ "$n" = 124 ] || fail "bin/$a's DLL exports $n Qelvan_ names, not 124"
done
x86_64-w64-mingw32-objdump -p "$pkg/virtual-camera/qlvnvcam.sys" | grep -q 'PE32+' || fail "the driver is not 64-bit"

# The import library: a COFF archive with an import symbol for every name of the .def.
exports=$(sed -n 's/^  *\(Qelvan_[A-Za-z_0-9]*\).*/\1/p' "$pkg/lib/$arch/QelvanSdk_Z51QK2_RVN.def" | sort -u)
[ "$(wc -l <<<"$exports")" = 124 ] || fail "the .def lists $(wc -l <<<"$exports") names, not 124"
symbols=$($cross-nm "$pkg/lib/$arch/QelvanSdk_Z51QK2_RVN.lib" 2>/dev/null | sed -n "s/.* $imp\\(Qelvan_.*\\)/\\1/p" | sort -u)
[ "$symbols" = "$exports" ] || fail "the import library's __imp_ symbols differ from the .def"

# Build the samples from the package alone: no path into the source tree may appear.
cmake -S "$pkg/samples" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$pkg/lib/cmake/QelvanSdk/$toolchain" -DCMAKE_PREFIX_PATH="$pkg" \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configuring the samples failed"; finish; }
cmake --build "$work/build" -- VERBOSE=1 >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; fail "building the samples failed"; finish; }
grep -q -- "$top/" "$work/build.log" && fail "the sample build used files of the source tree: $(grep -o -- "$top/[^ ]*" "$work/build.log" | head -n 3)"
exe="$work/build/qelvan-capture.exe"
[ -f "$exe" ] || { fail "no qelvan-capture.exe"; finish; }
$cross-objdump -p "$exe" | grep -Eq "Magic.*\($pe" || fail "the $arch sample is not a $arch program"
imports=$($cross-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
grep -q "qelvansdk_z51qk2_rvn.dll" <<<"$imports" || fail "the sample does not import the camera DLL ($imports)"
cp "$pkg/bin/$arch/QelvanSdk_Z51QK2_RVN.dll" "$work/build/"

# The README's example builds against the package with the plain compiler line it gives.
sed -n '/^```c$/,/^```$/p' "$top/README.md" | sed '1d;$d' >"$work/app.c"
[ -s "$work/app.c" ] || fail "the README has no C example"
(cd "$pkg" && $cross-gcc -Wall -Werror -I include "$work/app.c" lib/$arch/QelvanSdk_Z51QK2_RVN.lib \
  -o "$work/build/app.exe") || fail "the README's example does not build against the package"

run "packaged sample: list" "$exe" list
if [ "$rc" != 0 ] && grep -q "ERR_NOT_READY" <<<"$out"; then
  echo "SKIP: the library reports ERR_NOT_READY for listing cameras; the package builds, list not checked"
  [ "$failures" -eq 0 ] && exit 77
  finish
fi
expect 0 "QelvanZ51QK2-RVN_01 +free"
finish
