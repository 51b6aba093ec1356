#!/usr/bin/env bash
# Runs in the test VM: two kv4sim-uhid monitors on the real kernel, checked through hidraw, then
# driven by the Windows DLL through Wine's HID stack (kv4usb.exe and kv4usbcp_real_stack.exe).
# usage: real_stack.sh NATIVE_BUILD_DIR MINGW_BUILD_DIR; writes its logs to $KV4_OUT.
set -uo pipefail
native=$1 mingw=$2
out=${KV4_OUT:?}
failed=0
fail() { echo "FAIL: $*"; failed=1; }

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

control=/tmp/kv4sim-control # the program's default too
mkfifo "$control"
"$native/tools/kv4sim-uhid/kv4sim-uhid" --monitors=2 --control="$control" >"$out/kv4sim-uhid.log" 2>&1 &
uhid_pid=$!
trap 'echo quit >"$control"; wait $uhid_pid' EXIT
for _ in $(seq 100); do
  [ "$(grep -c 'ready: /dev/hidraw' "$out/kv4sim-uhid.log")" -eq 2 ] && break
  sleep 0.1
done
cat "$out/kv4sim-uhid.log"
[ "$(grep -c 'ready: /dev/hidraw' "$out/kv4sim-uhid.log")" -eq 2 ] || { echo "FAIL: kv4sim-uhid brought up no two monitors"; exit 1; }

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
expect() { # expect TEXT COMMAND...: the command prints TEXT
  local text=$1 output
  shift
  output=$(kv4usb "$@")
  echo "$ kv4usb $*"$'\n'"$output"
  grep -qF -- "$text" <<<"$output" || fail "kv4usb $* did not print \"$text\""
}
started=$(date +%s.%N)
expect "1     not available (-10112, refused)" list
echo "Wine's first start and discovery took $(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"
expect "max report    500 bytes" info 1
expect "buffer mode   2 (response length" info 0
expect "echo of 3 bytes answered" echo 0 0a1b2c
expect "status 0x01000000" status 1
expect "answered 0x00000001" special 0 1 0x00010000
expect "feature 0x1234 sent" feature 0 0x1234
grep -q "monitor 1 feature report 05 12 34" "$out/kv4sim-uhid.log" || fail "the feature report did not reach the monitor"
expect "update status" update-status 1

# Every memory, written and read back, both ends compared by CRC-32; flash also by the monitor's.
for block in "flash 0x2000 4096" "spiflash 0x10000 3000" "ram 0x100 2000" "eeprom 0x40 1000"; do
  read -r region address length <<<"$block"
  head -c "$length" /dev/urandom >"$out/$region.bin"
  expect "wrote" write "$region" 0 "$address" "Z:$out/$region.bin"
  expect "read $length/$length bytes" read "$region" 0 "$address" "$length" "Z:$out/$region.back"
  [ "$(cksum <"$out/$region.bin")" = "$(cksum <"$out/$region.back")" ] || fail "$region read back differs"
done
# gzip's trailer carries the CRC-32 of its input, least significant byte first.
crc=$(printf '0x%08X' "0x$(gzip -c "$out/flash.bin" | tail -c8 | od -An -tx4 -N4 | tr -d ' ')")
expect "image CRC $crc of 4096 bytes at 0x00002000" crc 0 0x2000 4096

expect "exchanges per second" poll 0 1 --count=500

# Arrivals and removals through Wine's own device notifications: the watch reports the monitors
# attached, then monitor 2 leaves and comes back on its port. Wine registers for notifications
# from a thread of its own after the call returns, hence the pause before unplugging.
"$wine" "$mingw/tools/kv4usb/kv4usb.exe" watch --seconds=25 >"$out/watch.out" 2>&1 &
watching=$!
for _ in $(seq 300); do grep -q "^port 1: connected" "$out/watch.out" && break; sleep 0.1; done
sleep 3
echo "unplug 2" >"$control"
for _ in $(seq 300); do grep -q "^port 1: disconnected" "$out/watch.out" && break; sleep 0.1; done
echo "plug 2" >"$control"
wait $watching
tr -d '\r' <"$out/watch.out"
[ "$(grep -c "^port 1: .*serial SIM00002" "$out/watch.out")" = 3 ] || fail "watch did not see port 1 arrive, leave and come back"
expect "they agree: every block arrived intact" demo

# With the library's debug lines, which say how each event was handled.
WINEDEBUG=-all,+debugstr windows "$mingw/kv4usbcp_real_stack.exe" "Z:$control" || fail "real-stack checks"
exit $failed
