#!/usr/bin/env bash
# Makes KV4UsbCp.<version>.nupkg, the .NET package in NuGet's layout:
#   KV4UsbCp.nuspec, README.md, LICENSE
#   lib/netstandard2.0/KV4UsbCp.dll and KV4UsbCp.dll.config (Mono's dllmap)
#   runtimes/win-x64/native/KV4USBCP.dll, runtimes/linux-x64/native/libkv4usbcp.so.3
# from a native build (its assembly, target kv4usbcp_dotnet, and its libkv4usbcp.so.3) and a MinGW
# build (its KV4USBCP.dll), both without debugging information; the version is the native build's
# project version. Then unpacks it and runs a host against what it holds: the assembly loads the
# package's own Linux library, which starts and finds no monitor here.
#   bash bindings/dotnet/pack.sh NATIVE_BUILD MINGW_BUILD OUT_DIR
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 NATIVE_BUILD MINGW_BUILD OUT_DIR" >&2; exit 2; }
native=$(realpath "$1") mingw=$(realpath "$2") out=$(realpath -m "$3")
here=$(realpath "$(dirname "$0")")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")
[ -n "$version" ] || { echo "no project version in $native/CMakeCache.txt" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

stage=$work/stage
mkdir -p "$stage/lib/netstandard2.0" "$stage/runtimes/win-x64/native" "$stage/runtimes/linux-x64/native"
cp "$native/bindings/dotnet/KV4UsbCp.dll" "$native/bindings/dotnet/KV4UsbCp.dll.config" "$stage/lib/netstandard2.0/"
objcopy --strip-debug "$native/libkv4usbcp.so.3" "$stage/runtimes/linux-x64/native/libkv4usbcp.so.3"
x86_64-w64-mingw32-objcopy --strip-debug "$mingw/KV4USBCP.dll" "$stage/runtimes/win-x64/native/KV4USBCP.dll"
cp "$here/README.md" "$here/../../LICENSE" "$stage/"
sed "s/@VERSION@/$version/" "$here/KV4UsbCp.manifest.xml.in" >"$stage/KV4UsbCp.nuspec"
cat >"$stage/[Content_Types].xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="nuspec" ContentType="application/octet" />
  <Default Extension="dll" ContentType="application/octet" />
  <Default Extension="config" ContentType="application/octet" />
  <Default Extension="3" ContentType="application/octet" />
  <Default Extension="md" ContentType="application/octet" />
  <Default Extension="xml" ContentType="application/octet" />
  <Override PartName="/LICENSE" ContentType="application/octet" />
</Types>
XML

mkdir -p "$out"
package=$out/KV4UsbCp.$version.nupkg
rm -f "$package"
(cd "$stage" && zip -qrXD "$package" .)

# What a host gets: the package unpacked, its assembly and its Linux library side by side as a
# build copies them, and a host that starts the library through them.
mkdir -p "$work/host"
unzip -q "$package" -d "$work/unpacked"
cp "$work/unpacked/lib/netstandard2.0/"* "$work/unpacked/runtimes/linux-x64/native/libkv4usbcp.so.3" "$work/host/"
cat >"$work/host/Host.cs" <<'CS'
using KV4UsbCp;
static class Host
{
    static void Main()
    {
        using (var library = new Kv4Library())
            System.Console.WriteLine("KV4UsbCp: library {0:X4}, {1} monitors", Kv4Library.Version, library.FindMonitors().Count);
    }
}
CS
mcs -nologo -out:"$work/host/Host.exe" -r:"$work/host/KV4UsbCp.dll" "$work/host/Host.cs"
(cd "$work/host" && LD_LIBRARY_PATH=. mono Host.exe)
unzip -Z1 "$package" | sort
