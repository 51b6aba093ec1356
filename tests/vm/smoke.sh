#!/usr/bin/env bash
# Checks, inside the test VM, what the HID tests rely on: uhid and hidraw, the host's files, the
# output share, and Wine finding a uhid device through its hidraw backend. Run it with
#   bash tests/vm/vm.sh tests/vm/smoke.sh OUT_DIR
set -euo pipefail

passes=0 failures=0
pass() {
  echo "ok   $*"
  passes=$((passes + 1))
}
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
check() { # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

echo "guest kernel $(uname -r), booted to the scenario in ${KV4_VM_BOOT_SECONDS:-?} s"
check "uhid is loaded" test -d /sys/module/uhid
check "/dev/uhid is a character device" test -c /dev/uhid
check "/sys/class/hidraw exists" test -d /sys/class/hidraw
check "the project's files are here ($PWD)" test -f "$PWD/tests/vm/vm.sh"
check "the root is the overlay" test "$(stat -f -c %T /)" = overlayfs
echo "written in the guest" >"$KV4_OUT/smoke-output"
check "the output share is writable" grep -q "in the guest" "$KV4_OUT/smoke-output"

# A uhid device as a HID test would make one: one UHID_CREATE2 event written in a single write()
# to a /dev/uhid descriptor that stays open, for closing it unplugs the device. The event: type
# (u32 11), name[128], phys[64], uniq[64], rd_size (u16), bus (u16, 3 = USB), vendor, product,
# version and country (u32 each), then the report descriptor, all little-endian and packed.
field() { printf '%s' "$1" && head -c $(($2 - ${#1})) /dev/zero; }
hex() { busybox xxd -r -p <<<"$1"; }
le16() { hex "$(printf '%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)) && le16 $(($1 >> 16)); }
# Vendor-defined page, one 64-byte input and one 64-byte output report without report IDs.
descriptor=0600ff0901a101150026ff00750895400901810209019102c0
event=/tmp/uhid-create2
{
  printf '\x0b\x00\x00\x00'
  field "KV4 VM smoke" 128 && field "" 64 && field "smoke0001" 64
  le16 $((${#descriptor} / 2)) && le16 3
  le32 0x1209 && le32 0x0001 && le32 0x0100 && le32 0
  hex "$descriptor"
} >"$event"
# The size of struct uhid_event; the kernel reads the whole event from one write.
truncate -s 4376 "$event"
exec 3<>/dev/uhid
# dd writes through its standard output, the same open file as descriptor 3: opening /dev/uhid
# again would make a second, separate device.
dd if="$event" bs=4376 count=1 status=none >&3
hidraw=""
for _ in $(seq 50); do
  hidraw=$(grep -l 'HID_ID=0003:00001209:00000001' /sys/class/hidraw/*/device/uevent 2>/dev/null || true)
  [ -z "$hidraw" ] || break
  sleep 0.1
done
check "the uhid device has a hidraw node" test -n "$hidraw"
if [ -n "$hidraw" ]; then
  node=/dev/$(basename "$(dirname "$(dirname "$hidraw")")")
  check "$node exists" test -c "$node"
fi

export WINEDEBUG=${WINEDEBUG:--all}
# A wineserver that outlives each program: otherwise every one of them may start Wine's services
# anew, about 10 s each under TCG. Those services inherit the output of the program that started
# them and live as long as the server, so Wine's output goes to files: a pipe would never close.
wineserver -p
wine_out=/tmp/wine-out
wine() {
  wine64 "$@" >"$wine_out" 2>&1 </dev/null || true
  tr -d '\r' <"$wine_out"
}
started=$(now)
hello=$(wine cmd /c echo hello)
echo "Wine's first start: $(since "$started") s"
check "Wine runs cmd" test "$hello" = hello
settings=$(wine reg query 'HKLM\System\CurrentControlSet\Services\winebus' |
  grep -E 'Enable SDL|DisableUdevd' || true)
echo "$settings"
check "the prefix turns SDL off" grep -q -E 'Enable SDL +REG_DWORD +0x0$' <<<"$settings"
check "the prefix turns udevd off" grep -q -E 'DisableUdevd +REG_DWORD +0x1$' <<<"$settings"
# winebus enumerates in the background of Wine's device service; give it a moment under TCG.
started=$(now)
seen=""
for _ in $(seq 30); do
  seen=$(wine reg query 'HKLM\System\CurrentControlSet\Enum\HID' /s |
    grep -i -m 1 -F "VID_1209&PID_0001\\" || true)
  [ -z "$seen" ] || break
  sleep 1
done
echo "Wine listed the device after $(since "$started") s: ${seen:-no}"
check "Wine finds the uhid device through hidraw" test -n "$seen"

wineserver -k || true
exec 3>&-
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
