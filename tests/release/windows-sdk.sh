#!/usr/bin/env bash
# Takes the Windows zip as a host developer does: checks its layout, reads each binary's version
# resource back, and links the C host of the simulator library through each shipped import
# library: MSVC's with clang and lld-link (MSVC's ABI, no C runtime, nothing but KV4USBCP_sim.lib
# and kernel32) and MinGW's with gcc. Both run under Wine against the zip's KV4USBCP_sim.dll:
# discovery, a status command and one asynchronous exchange.
# usage: windows-sdk.sh ZIP MINGW_BUILD_DIR WORK_DIR
set -euo pipefail
zip=$(realpath "$1") build=$(realpath "$2") work=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
name=$(basename "$zip" .zip)
version=${name#KV4USBCP-} && version=${version%-win64}
rm -rf "$work" && mkdir -p "$work/msvc" "$work/mingw" && cd "$work"
unzip -q "$zip"
root=$work/$name
for file in bin/KV4USBCP.dll bin/KV4USBCP_sim.dll bin/kv4usb.exe lib/KV4USBCP.lib lib/KV4USBCP_sim.lib \
            lib/libKV4USBCP.dll.a lib/libKV4USBCP_sim.dll.a lib/KV4USBCP.def include/kv4usbcp.h \
            include/kv4usbcp_sim.h README.txt LICENSE CHANGELOG.md; do
  [ -f "$root/$file" ] || { echo "$name.zip has no $file"; exit 1; }
done

bash "$here/version-resource.sh" "$version" "$build/kv4_version_resource.exe" "$root"/bin/*
wine=$source/cmake/wine-run

msvc_cc=(clang --target=x86_64-pc-windows-msvc -ffreestanding -O1 -Wall -Werror -I "$root/include")
"${msvc_cc[@]}" -c "$source/tests/sim_library_from_c.c" -o msvc/host.obj
lld-link /nologo /nodefaultlib /entry:kv4_entry /subsystem:console /out:msvc/host.exe msvc/host.obj \
  "$root/lib/KV4USBCP_sim.lib" /usr/x86_64-w64-mingw32/lib/libkernel32.a
imports=$(x86_64-w64-mingw32-objdump -p msvc/host.exe | awk '/DLL Name:/ { print tolower($3) }' | LC_ALL=C sort | xargs)
[ "$imports" = "kernel32.dll kv4usbcp_sim.dll" ] || { echo "the MSVC-ABI host imports $imports"; exit 1; }

x86_64-w64-mingw32-gcc-posix -std=c99 -pedantic -Wall -Werror -I "$root/include" "$source/tests/sim_library_from_c.c" \
  -L "$root/lib" -lKV4USBCP_sim -static -o mingw/host.exe

for host in msvc mingw; do
  cp "$root/bin/KV4USBCP_sim.dll" "$host/"
  # Bounded: a host that calls a missing export stops in Wine's debugger rather than exiting.
  timeout 300 "$wine" "$host/host.exe" || { echo "the $host host failed: $?"; exit 1; }
  echo "the $host host, linked through the zip's import library: discovery, status, asynchronous exchange good"
done
echo "$name.zip: layout, version resources, and the MSVC-ABI and MinGW hosts on the shipped import libraries all good"
