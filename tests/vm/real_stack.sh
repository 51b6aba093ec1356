#!/usr/bin/env bash
# Runs in the test VM: two kv4sim-uhid monitors on the real kernel, checked through hidraw, then
# driven by the Windows DLL through Wine's HID stack (kv4usb.exe and kv4usbcp_real_stack.exe).
# usage: real_stack.sh NATIVE_BUILD_DIR MINGW_BUILD_DIR; writes its logs to $KV4_OUT.
set -uo pipefail
native=$1 mingw=$2
out=${KV4_OUT:?}
source "$(dirname "$0")/monitor_checks.sh"
prefix=Z:

# The report descriptor that the default layout must give, written out by hand from the HID item
# encoding: vendor page, application collection, 8-bit values 0-255, then per report its ID,
# usage, count and main item (input 1-4 of 20/60/120/500, output the same, feature 5 of 32).
descriptor=0600ff0901a101150026ff007508850109019514810285020902953c810285030903957881028504090496f4018102
descriptor+=850109019514910285020902953c910285030903957891028504090496f4019102850509059520b102c0

wine=/usr/lib/wine/wine64
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# With the udev daemon, as on a desktop: without its events Wine's bus never lists a monitor
# again once it has been unplugged.
/lib/systemd/systemd-udevd --daemon
"$wine" reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v DisableUdevd /t REG_DWORD /d 0 /f >/dev/null 2>&1
/usr/lib/wine/wineserver -w

start_monitors 2

echo "== the kernel's view through hidraw"
node=$(sed -n 's/^monitor 1 ready: //p' "$out/kv4sim-uhid.log")
timeout 60 "$native/kv4_hidraw_check" "$node" SIM00001 "$descriptor" || fail "hidraw check"

echo "== the Windows DLL through Wine's HID stack"
/usr/lib/wine/wineserver -p 300 # one server for every program below: Wine starts once
# Wine's own service processes inherit the output and outlive the program under a persistent
# server, so its output goes to a file, never to a pipe that would then never close.
windows() {
  timeout 300 "$wine" "$@" >"$out/windows.out" 2>&1
  local status=$?
  tr -d '\r' <"$out/windows.out"
  return $status
}
kv4usb() { windows "$mingw/tools/kv4usb/kv4usb.exe" "$@"; }
started=$(date +%s.%N)
expect "1     not available (-10112, refused)" list
echo "Wine's first start and discovery took $(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"
service_checks
# Wine registers for notifications from a thread of its own after the call returns, hence the
# pause before unplugging.
watch_checks 3 "$wine" "$mingw/tools/kv4usb/kv4usb.exe"
expect "they agree: every block arrived intact" demo

# With the library's debug lines, which say how each event was handled.
WINEDEBUG=-all,+debugstr windows "$mingw/kv4usbcp_real_stack.exe" "Z:$control" || fail "real-stack checks"
exit $failed
