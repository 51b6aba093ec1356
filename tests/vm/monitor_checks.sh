# Sourced by the real-stack scenarios: kv4sim-uhid monitors on the real kernel, and the checks that
# kv4usb runs on them, whichever library it drives. The scenario sets native (the Linux build),
# out, defines kv4usb (runs the program with its arguments, output on stdout) and prefix (what
# turns a guest path into one kv4usb can open: "Z:" under Wine).
failed=0
fail() { echo "FAIL: $*"; failed=1; }

control=/tmp/kv4sim-control # kv4sim-uhid's default too

# wait_for PATTERN FILE: up to 30 s for a line matching PATTERN in FILE; false when none came.
wait_for() {
  for _ in $(seq 300); do
    grep -q -- "$1" "$2" && return 0
    sleep 0.1
  done
  return 1
}

# start_monitors N [OPTIONS...]: kv4sim-uhid with N monitors (and OPTIONS), each ready with its
# hidraw node, logging to $out/kv4sim-uhid.log, or to $log when set; the program is the Linux
# build's, or $kv4sim when set.
start_monitors() {
  local count=$1 to=${log:-$out/kv4sim-uhid.log}
  shift
  [ -p "$control" ] || mkfifo "$control"
  "${kv4sim:-$native/tools/kv4sim-uhid/kv4sim-uhid}" --monitors="$count" --control="$control" "$@" >"$to" 2>&1 &
  uhid_pid=$!
  trap 'echo quit >"$control"; wait $uhid_pid' EXIT
  for _ in $(seq 300); do
    [ "$(grep -c 'ready: /dev/hidraw' "$to")" -eq "$count" ] && break
    sleep 0.1
  done
  cat "$to"
  [ "$(grep -c 'ready: /dev/hidraw' "$to")" -eq "$count" ] || { echo "FAIL: kv4sim-uhid brought up no $count monitors"; exit 1; }
}

expect() { # expect TEXT COMMAND...: kv4usb COMMAND prints every line of TEXT
  local text=$1 output line
  shift
  output=$(kv4usb "$@")
  echo "$ kv4usb $*"$'\n'"$output"
  while IFS= read -r line; do
    grep -qF -- "$line" <<<"$output" || fail "kv4usb $* did not print \"$line\""
  done <<<"$text"
  ! grep -q "Sanitizer" <<<"$output" || fail "kv4usb $* ran into a sanitizer report" # sanitized builds
}

# Every service command on two monitors: information, commands, feature report, memories.
service_checks() {
  expect "max report    500 bytes" info 1
  expect "buffer mode   2 (response length" info 0
  expect "echo of 3 bytes answered" echo 0 0a1b2c
  expect "status 0x01000000" status 1
  expect "answered 0x00000001" special 0 1 0x00010000
  expect "feature 0x1234 sent" feature 0 0x1234
  grep -q "monitor 1 feature report 05 12 34" "$out/kv4sim-uhid.log" || fail "the feature report did not reach the monitor"
  expect "update status" update-status 1

  # Every memory, written and read back, both ends compared by CRC-32; flash also by the monitor's.
  local block region address length crc
  for block in "flash 0x2000 4096" "spiflash 0x10000 3000" "ram 0x100 2000" "eeprom 0x40 1000"; do
    read -r region address length <<<"$block"
    head -c "$length" /dev/urandom >"$out/$region.bin"
    expect "wrote" write "$region" 0 "$address" "$prefix$out/$region.bin"
    expect "read $length/$length bytes" read "$region" 0 "$address" "$length" "$prefix$out/$region.back"
    [ "$(cksum <"$out/$region.bin")" = "$(cksum <"$out/$region.back")" ] || fail "$region read back differs"
  done
  # gzip's trailer carries the CRC-32 of its input, least significant byte first.
  crc=$(printf '0x%08X' "0x$(gzip -c "$out/flash.bin" | tail -c8 | od -An -tx4 -N4 | tr -d ' ')")
  expect "image CRC $crc of 4096 bytes at 0x00002000" crc 0 0x2000 4096

  expect "exchanges per second" poll 0 1 --count=500
}

# watch_checks PAUSE COMMAND...: the watch (COMMAND... watch --seconds=25, in the background)
# reports the monitors attached, then monitor 2 leaving and coming back on its port. PAUSE lets a
# system that registers for notifications late catch up before the unplug.
watch_checks() {
  local pause=$1
  shift
  "$@" watch --seconds=25 >"$out/watch.out" 2>&1 &
  local watching=$!
  wait_for "^port 1: connected" "$out/watch.out"
  sleep "$pause"
  echo "unplug 2" >"$control"
  wait_for "^port 1: disconnected" "$out/watch.out"
  echo "plug 2" >"$control"
  wait $watching
  tr -d '\r' <"$out/watch.out"
  [ "$(grep -c "^port 1: .*serial SIM00002" "$out/watch.out")" = 3 ] || fail "watch did not see port 1 arrive, leave and come back"
  ! grep -q "Sanitizer" "$out/watch.out" || fail "the watch ran into a sanitizer report"
}
