#!/usr/bin/env bash
# Runs in the test VM: the Linux library on two kv4sim-uhid monitors through the kernel's hidraw
# nodes, driven by kv4usb and kv4usbcp_real_stack. usage: linux_stack.sh NATIVE_BUILD_DIR; writes
# its logs to $KV4_OUT.
set -uo pipefail
native=$1
out=${KV4_OUT:?}
source "$(dirname "$0")/monitor_checks.sh"
prefix=

start_monitors 2
kv4usb() { timeout 120 "$native/tools/kv4usb/kv4usb" "$@" 2>&1; }

echo "== the Linux library through hidraw, plug events from the kernel"
# A uhid monitor has no USB device above it, so it has no string descriptors to read.
expect "1     not available (-10112, refused)" list
service_checks
watch_checks 0 "$native/tools/kv4usb/kv4usb"
echo "== plug events from the udev daemon"
/lib/systemd/systemd-udevd --daemon
watch_checks 0 "$native/tools/kv4usb/kv4usb"
expect "they agree: every block arrived intact" demo
timeout 120 "$native/kv4usbcp_real_stack" "$control" || fail "real-stack checks"
exit $failed
