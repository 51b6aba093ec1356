#!/usr/bin/env bash
# Makes the release packages into dist/ and prints their names and sizes:
#   KV4USBCP-<version>-win64.zip        bin/ (DLLs and kv4usb.exe), lib/ (import libraries for MSVC and
#                                       MinGW, the .def), include/, examples/ when there are any,
#                                       README.txt, LICENSE, CHANGELOG.md
#   KV4USBCP-<version>-win64-debug.zip  each binary's debugging symbols, bin/X.debug, which the
#                                       binary names in its debug link
#   libkv4usbcp3, libkv4usbcp-dev and kv4usb .deb files, made by CPack
#   KV4UsbCp.<version>.nupkg            the .NET package (bindings/dotnet/pack.sh)
# The Windows binaries are build/mingw's, the Debian packages' build/deb's and the .NET package's
# Linux library build/native's (each built here when missing or out of date); the version is the
# project's, as the builds' caches hold it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
kv4_install_missing "${KV4_NATIVE_PACKAGES[@]}" "${KV4_WINDOWS_PACKAGES[@]}" "${KV4_RELEASE_PACKAGES[@]}"

build=build/mingw
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target kv4usbcp kv4usbcp_sim kv4usb >/dev/null
bash scripts/check-dll.sh "$build" # exports as listed, system DLLs only
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=KV4USBCP-$version-win64
rm -rf dist && mkdir -p "dist/stage/$name"/{bin,lib,include} "dist/debug/$name/bin"
root=dist/stage/$name

# Binaries without their debugging information, each linked to its symbol file by name and CRC.
for binary in KV4USBCP.dll KV4USBCP_sim.dll tools/kv4usb/kv4usb.exe; do
  file=$(basename "$binary")
  x86_64-w64-mingw32-objcopy --only-keep-debug "$build/$binary" "dist/debug/$name/bin/$file.debug"
  x86_64-w64-mingw32-objcopy --strip-debug --add-gnu-debuglink="dist/debug/$name/bin/$file.debug" "$build/$binary" \
    "$root/bin/$file"
done

# Import libraries. MSVC's are made by llvm-dlltool in the short import format that MSVC's own
# lib.exe writes, from the export lists the DLLs were linked with.
for lib in KV4USBCP KV4USBCP_sim; do
  def=$build/$lib.def
  [ "$lib" = KV4USBCP ] && def=src/api/KV4USBCP.def
  llvm-dlltool -m i386:x86-64 -d "$def" -D "$lib.dll" -l "$root/lib/$lib.lib"
  cp "$build/$lib.dll.a" "$root/lib/lib$lib.dll.a"
done
cp src/api/KV4USBCP.def "$root/lib/"
cp include/kv4usbcp.h include/kv4usbcp_sim.h "$root/include/"
if [ -d examples ]; then
  git ls-files examples | while read -r source; do
    mkdir -p "$root/$(dirname "$source")" && cp "$source" "$root/$source"
  done
fi
sed "s/@VERSION@/$version/g" packaging/win64/README.txt | sed 's/$/\r/' >"$root/README.txt"
cp LICENSE CHANGELOG.md "$root/"

(cd dist/stage && zip -qrX "../$name.zip" "$name")
(cd dist/debug && zip -qrX "../$name-debug.zip" "$name")
rm -rf dist/stage dist/debug

# Debian packages from a build configured as a distribution configures one, for the prefix /usr:
# there GNUInstallDirs puts the libraries in Debian's multiarch folder (lib/x86_64-linux-gnu), and
# kv4usb looks for them there. Their dependencies come from dpkg-shlibdeps.
deb_build=build/deb
cmake -S . -B "$deb_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DKV4_TESTS=OFF -DKV4_EXAMPLES=OFF >/dev/null
cmake --build "$deb_build" --target kv4usbcp kv4usbcp_sim kv4usb kv4sim-uhid >/dev/null
cpack -G DEB --config "$deb_build/CPackConfig.cmake" -B "$PWD/dist/deb" >/dev/null
mv dist/deb/*.deb dist/ && rm -rf dist/deb

# The .NET package: the assembly and libkv4usbcp.so.3 from the native build, KV4USBCP.dll from
# build/mingw, checked by a host that loads it from the unpacked package.
kv4_install_missing "${KV4_DOTNET_PACKAGES[@]}"
cmake --preset native >/dev/null
cmake --build --preset native --target kv4usbcp_dotnet >/dev/null
bash bindings/dotnet/pack.sh build/native "$build" dist >/dev/null
for package in dist/*; do
  printf '%-40s %10d bytes\n' "$package" "$(stat -c %s "$package")"
done
