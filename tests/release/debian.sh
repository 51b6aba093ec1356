#!/usr/bin/env bash
# Checks the Debian packages without installing them on this machine: each holds what it should
# (the runtime package the udev rule where udev reads it, and a shlibs file; the -dev package
# depends on exactly this runtime, kv4usb on it too), and unpacked together they build the C host
# of the simulator library through pkg-config, which then runs, as does the packaged kv4usb.
# usage: debian.sh DIST_DIR WORK_DIR
set -euo pipefail
dist=$(realpath "$1") work=$(realpath -m "$2")
source=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work" && mkdir -p "$work/root"
runtime=$(echo "$dist"/libkv4usbcp3_*.deb) dev=$(echo "$dist"/libkv4usbcp-dev_*.deb) tools=$(echo "$dist"/kv4usb_*.deb)
for deb in "$runtime" "$dev" "$tools"; do dpkg-deb -x "$deb" "$work/root"; done

fail() { echo "$*"; exit 1; }
# Listings read whole first: grep -q leaving early would break the pipe, and the pipeline with it.
grep -q ' ./usr/lib/udev/rules.d/70-kv4usbcp.rules$' <<<"$(dpkg-deb -c "$runtime")" || fail "$runtime: no udev rule in /usr/lib/udev/rules.d"
grep -q '^libkv4usbcp 3 libkv4usbcp3 ' <<<"$(dpkg-deb --ctrl-tarfile "$runtime" | tar -xO ./shlibs)" || fail "$runtime: no shlibs entry"
[ "$(dpkg-deb -f "$dev" Depends)" = "libkv4usbcp3 (= $(dpkg-deb -f "$runtime" Version))" ] || fail "$dev: Depends $(dpkg-deb -f "$dev" Depends)"
# kv4usb loads the libraries with dlopen, so dpkg-shlibdeps does not find that dependency.
[[ "$(dpkg-deb -f "$tools" Depends)" == *"libkv4usbcp3 (>= "* ]] || fail "$tools: Depends $(dpkg-deb -f "$tools" Depends)"
grep -q ' ./usr/include/kv4usbcp.h$' <<<"$(dpkg-deb -c "$dev")" || fail "$dev: no header"

libdir=$(dirname "$(find "$work/root" -name libkv4usbcp_sim.so -print -quit)")
export PKG_CONFIG_PATH=$libdir/pkgconfig LD_LIBRARY_PATH=$libdir
# shellcheck disable=SC2046 # the flags are words
cc -o "$work/host" "$source/tests/sim_library_from_c.c" $(pkg-config --cflags --libs kv4usbcp_sim)
"$work/host" || fail "the host built from the packages failed at step $?"
"$work/root/usr/bin/kv4usb" --simulate status 0
echo "Debian packages: contents, dependencies and a host built from them all good"
