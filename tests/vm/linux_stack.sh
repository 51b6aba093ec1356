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

echo "== one user at a time: while a watch holds both monitors, another program finds none"
"$native/tools/kv4usb/kv4usb" watch --seconds=15 >"$out/holder.out" 2>&1 &
holder=$!
wait_for "^port 1: connected" "$out/holder.out"
expect "error: no monitor attached (add --simulate to try it on a simulated monitor)" list
wait $holder
timeout 120 "$native/kv4usbcp_real_stack" "$control" || fail "real-stack checks"

# ---- A hidraw node handed on ---------------------------------------------------------------------
echo "== nodes handed on: 2 comes back on 1's node and 1 on 2's, then a new monitor 3 on 1's"
last_node() { grep "^monitor $1 ready: " "$out/kv4sim-uhid.log" | tail -n1 | sed 's/.*ready: //'; }
node1=$(last_node 1) node2=$(last_node 2)
timeout 120 "$native/kv4usbcp_recycled_node" "$control" || fail "recycled-node checks"
handed_on=$(grep "ready: " "$out/kv4sim-uhid.log" | tail -n4 | head -n3)
[ "$handed_on" = "monitor 2 ready: $node1
monitor 1 ready: $node2
monitor 3 ready: $node2" ] || fail "the kernel did not hand the nodes on as the checks assume: $handed_on"
# ---------------------------------------------------------------------------------------------------

echo "== indexed strings from a monitor on USB: a configfs gadget on dummy_hcd, read through usbfs"
echo quit >"$control"
wait $uhid_pid
/run/kv4-vm/modules/load configfs libcomposite usb_f_fs usbhid dummy_hcd
log=$out/gadget.log start_monitors 1 --gadget
expect "serial        SIM00001
firmware      SIM-FW 1.00
hardware      SIM-HW A
boot loader   SIM-BL 1.00" info 0
expect "exchanges per second" poll 0 --count=200
source "$(dirname "$0")/linux_many_ports.sh"
exit $failed
