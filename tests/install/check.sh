#!/usr/bin/env bash
# Installs the build into a fresh prefix and builds a C host (the simulator library's, which runs
# exchanges without a monitor) against it twice, through pkg-config and through find_package; both
# must run. Checks the shared objects' SONAME, both pkg-config files, the udev rule and kv4usb.
# usage: check.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1 work=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$(dirname "$(find "$prefix" -name libkv4usbcp.so -print -quit)")
for lib in kv4usbcp kv4usbcp_sim; do
  soname=$(objdump -p "$libdir/lib$lib.so" | awk '/SONAME/ { print $2 }')
  [ "$soname" = "lib$lib.so.3" ] || { echo "lib$lib.so: SONAME '$soname'"; exit 1; }
done
[ -f "$prefix/lib/udev/rules.d/70-kv4usbcp.rules" ] || { echo "no udev rule installed"; exit 1; }

export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion kv4usbcp)" = "$(pkg-config --modversion kv4usbcp_sim)" ] || exit 1
[ "$(pkg-config --variable=libdir kv4usbcp)" -ef "$libdir" ] || { echo "kv4usbcp.pc names another libdir"; exit 1; }
# shellcheck disable=SC2046 # the flags are words
cc -o "$work/by-pkg-config" "$here/../sim_library_from_c.c" $(pkg-config --cflags --libs kv4usbcp_sim)
LD_LIBRARY_PATH=$libdir "$work/by-pkg-config"

cmake -S "$here" -B "$work/by-find-package" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/by-find-package" >/dev/null
"$work/by-find-package/consumer"

# The installed kv4usb loads the installed libraries: the simulator's runs a command, the
# production one finds no monitor here and says so.
"$prefix/bin/kv4usb" --simulate status 0 | grep -qx "status 0x01000000" || { echo "kv4usb --simulate failed"; exit 1; }
if "$prefix/bin/kv4usb" status 0 2>"$work/kv4usb.err" || ! grep -q "^error: no monitor attached" "$work/kv4usb.err"; then
  echo "kv4usb on the production library: $(cat "$work/kv4usb.err")"; exit 1
fi
echo "installed package: SONAMEs, udev rule, pkg-config and find_package hosts and kv4usb all good"
