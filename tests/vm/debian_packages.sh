#!/usr/bin/env bash
# Runs in the test VM: the Debian packages as a user takes them. Installs the three packages with
# dpkg into the guest's root; shows that the installed udev rule matches a monitor's hidraw node
# and USB device node (a kv4sim-uhid gadget on dummy_hcd, from the kv4usb package); as a user
# without root builds a host with pkg-config alone and gets the monitor's status; removes the
# packages and checks that every file they installed is gone. Logs go to $KV4_OUT.
#   bash tests/vm/vm.sh tests/vm/debian_packages.sh OUT_DIR DIST_DIR
set -uo pipefail
dist=$(realpath "$1")
out=${KV4_OUT:?}
# shellcheck source=tests/vm/monitor_checks.sh
source "$(dirname "$0")/monitor_checks.sh"
host_source=$PWD/tests/vm/installed_host.c
debs=("$dist"/libkv4usbcp3_*.deb "$dist"/libkv4usbcp-dev_*.deb "$dist"/kv4usb_*.deb)
packages=()
for deb in "${debs[@]}"; do packages+=("$(dpkg-deb -f "$deb" Package)"); done
# Whatever the packages hold that the root already had (/usr, /usr/lib, ...) may stay after removal.
existed=$out/existed-before
for deb in "${debs[@]}"; do dpkg-deb -c "$deb"; done | awk '{ print substr($6, 2) }' | sed 's|\(.\)/$|\1|' |
  sort -u | while read -r path; do [ ! -e "$path" ] || echo "$path"; done >"$existed"
new_paths() { grep -v -x -F -f "$existed" "$installed"; }

echo "== dpkg -i ${debs[*]##*/}"
dpkg -i "${debs[@]}" || { echo "FAIL: dpkg -i"; exit 1; }
dpkg-query -W "${packages[@]}"
installed=$out/installed-files
dpkg -L "${packages[@]}" | sed 's|^/\.$|/|' | sort -u >"$installed"
echo "$(wc -l <"$installed") paths installed, $(new_paths | wc -l) of them new"

# udev gives the seat's user access through the rule's uaccess tag, which needs logind; this test
# has none, so a rule of its own (not packaged) turns the tag into a group whose members get access.
echo "== the udev rule on a monitor's hidraw and USB device nodes"
groupadd kv4test && useradd -m -G kv4test kv4host
echo 'TAG=="uaccess", SUBSYSTEM=="hidraw|usb", GROUP="kv4test", MODE="0660"' >/etc/udev/rules.d/71-kv4-test.rules
/lib/systemd/systemd-udevd --daemon
/run/kv4-vm/modules/load configfs libcomposite usb_f_fs usbhid dummy_hcd
kv4sim=/usr/bin/kv4sim-uhid start_monitors 1 --gadget
hidraw=$(sed -n 's/^monitor 1 ready: //p' "$out/kv4sim-uhid.log")
usb=$(sed -n 's/^monitor 1 usb device: //p' "$out/kv4sim-uhid.log")
# udevadm test NODE NAME: prints the tags udev's rules give NODE now (TAGS= also keeps those an
# earlier event gave), its trace in $out/udevadm-NAME.log.
udev_tags() {
  udevadm test "$(udevadm info -q path -n "$1")" >"$out/udevadm-$2.log" 2>&1
  sed -n 's/^CURRENT_TAGS=//p' "$out/udevadm-$2.log"
}
for node in "$hidraw" "$usb"; do
  tags=$(udev_tags "$node" "$(basename "$node")")
  echo "$node: udevadm test: current tags $tags"
  [[ $tags == *:uaccess:* ]] || fail "the installed rule does not tag $node uaccess"
  # udevd applies the rules to the new node on its own time.
  for _ in $(seq 300); do
    [ "$(stat -c '%G %a' "$node")" = "kv4test 660" ] && break
    sleep 0.1
  done
  echo "$node: $(stat -c '%U:%G %a' "$node")"
  [ "$(stat -c '%G %a' "$node")" = "kv4test 660" ] || fail "$node did not get the group of uaccess"
done

echo "== as $(id kv4host): a host built with pkg-config, then the packaged kv4usb"
# shellcheck disable=SC2016 # expanded by the user's shell
runuser -u kv4host -- bash -c 'cd && set -x && flags=$(pkg-config --cflags --libs kv4usbcp) &&
  cc -std=c99 -Wall -Werror -o host "$1" $flags && ldd host | grep kv4usbcp && ./host' _ "$host_source" 2>&1 ||
  fail "the host built from the packages"
output=$(runuser -u kv4host -- /usr/bin/kv4usb status 0 2>&1)
echo "$ kv4usb status 0"$'\n'"$output"
grep -q "status 0x01000000" <<<"$output" || fail "the packaged kv4usb as kv4host"

echo "== dpkg -r ${packages[*]}"
dpkg -r "${packages[@]}" || fail "dpkg -r"
known=$(dpkg-query -W -f '${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null)
[ -z "$known" ] || fail "dpkg still knows after dpkg -r: $known"
left=$(new_paths | while read -r path; do if [ -e "$path" ] || [ -L "$path" ]; then ls -ld "$path"; fi; done)
[ -z "$left" ] || fail "left behind after dpkg -r:"$'\n'"$left"
echo "every one of the $(new_paths | wc -l) new paths is gone"
for node in "$hidraw" "$usb"; do
  tags=$(udev_tags "$node" "$(basename "$node")-removed")
  echo "$node: udevadm test: current tags $tags"
  [[ $tags != *:uaccess:* ]] || fail "$node is still tagged uaccess with the packages removed"
done
exit "$failed"
