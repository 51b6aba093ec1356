#!/usr/bin/env bash
# Checks that every place a host or a package manager reads the release's version from says the
# project's version: the header's macros (and the 16-bit value they make), the changelog's top
# entry, the Python package's version, and, where the build or the packages have them, the shared
# objects' SONAME and file names, the pkg-config files, the CMake package's version file, the
# Windows binaries' version resources and the package names (the NuGet package's manifest too).
# usage: version.sh VERSION SOURCE_DIR [BUILD_DIR] [DIST_DIR]
set -euo pipefail
version=$1 source=$2 build=${3:-} dist=${4:-}
IFS=. read -r major minor patch <<<"$version"
status=0
agree() { # what, found
  if [ "$2" != "$version" ]; then echo "$1 says '$2', not $version"; status=1; fi
}

header=$source/include/kv4usbcp.h
macro() { awk -v name="KV4USBCP_VERSION$1" '$1 == "#define" && $2 == name { print $3 }' "$header"; }
agree "kv4usbcp.h's version macros" "$(macro _MAJOR).$(macro _MINOR).$(macro _PATCH)"
[ "$(macro '')" = "$(printf '0x%02X%02X' "$major" "$minor")" ] || {
  echo "KV4USBCP_VERSION $(macro '') is not major $major, minor $minor"; status=1; }
agree "CHANGELOG.md's top entry" "$(awk '/^## / { print $2; exit }' "$source/CHANGELOG.md")"
agree "the Python package" "$(sed -n 's/^__version__ = "\(.*\)"$/\1/p' "$source/bindings/python/kv4usbcp/__init__.py")"

if [ -n "$build" ] && [ -e "$build/libkv4usbcp.so" ]; then
  for lib in kv4usbcp kv4usbcp_sim; do
    soname=$(objdump -p "$build/lib$lib.so" | awk '/SONAME/ { print $2 }')
    [ "$soname" = "lib$lib.so.$major" ] || { echo "lib$lib.so: SONAME $soname, not lib$lib.so.$major"; status=1; }
    agree "lib$lib.so's file name" "$(basename "$(readlink -f "$build/lib$lib.so")" | sed "s/^lib$lib\.so\.//")"
    agree "$lib.pc" "$(awk '/^Version:/ { print $2 }' "$build/$lib.pc")"
  done
  agree "the CMake package" "$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/KV4USBCPConfigVersion.cmake")"
fi

if [ -n "$build" ] && [ -e "$build/KV4USBCP.dll" ]; then
  bash "$(dirname "$0")/version-resource.sh" "$version" "$build/kv4_version_resource.exe" "$build/KV4USBCP.dll" \
    "$build/KV4USBCP_sim.dll" "$build/tools/kv4usb/kv4usb.exe" || status=1
fi

if [ -n "$dist" ]; then
  for suffix in win64.zip win64-debug.zip; do
    [ -f "$dist/KV4USBCP-$version-$suffix" ] || { echo "no $dist/KV4USBCP-$version-$suffix"; status=1; }
  done
  [ -f "$dist/KV4UsbCp.$version.nupkg" ] || { echo "no $dist/KV4UsbCp.$version.nupkg"; status=1; }
  agree "the NuGet package's manifest" "$(unzip -p "$dist/KV4UsbCp.$version.nupkg" KV4UsbCp.nuspec 2>/dev/null |
    sed -n 's|.*<version>\(.*\)</version>.*|\1|p')"
  for deb in "$dist"/*.deb; do
    [ -e "$deb" ] || continue
    agree "$(basename "$deb")" "$(dpkg-deb -f "$deb" Version | sed 's/-[^-]*$//')"
  done
fi
[ $status -eq 0 ] && echo "version $version everywhere it was looked for"
exit $status
