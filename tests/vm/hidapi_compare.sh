#!/usr/bin/env bash
# Runs in the test VM: one kv4sim-uhid monitor, the same short exchange timed through hidapi's
# hidraw backend and through the production library (bench/hidapi_compare.cpp), then a short run
# with every report the monitor gets logged, to show that both halves write the same report.
# usage: hidapi_compare.sh NATIVE_BUILD_DIR [PROGRAM_ARGS...] (--hidapi-only times hidapi alone);
# writes its logs to $KV4_OUT. From the host (one virtual processor gives the steadiest times):
#   KV4_VM_CPUS=1 KV4_VM_TIMEOUT=600 bash tests/vm/vm.sh tests/vm/hidapi_compare.sh build/vm-hidapi build/native
set -uo pipefail
native=$1
shift
out=${KV4_OUT:?}
program=$native/bench/kv4usbcp_hidapi_compare
[ -x "$program" ] || {
  echo "FAIL: no $program (built only where pkg-config finds hidapi-hidraw)"
  exit 1
}
failed=0
# The monitor and the program share one processor: under QEMU without hardware virtualisation a
# wake-up across virtual processors can wait for the host to run the other one's thread, which
# on a busy host spreads round trips over milliseconds.
pin=(taskset -c 0)

control=/run/kv4sim-hidapi-compare # the guest's own tmpfs
mkfifo "$control" || exit 1
uhid_pid=""
stop_monitor() {
  [ -n "$uhid_pid" ] || return 0
  # The FIFO would block a writer forever once kv4sim-uhid, its reader, is gone.
  ! kill -0 "$uhid_pid" 2>/dev/null || echo quit >"$control"
  wait "$uhid_pid"
  uhid_pid=""
}
trap stop_monitor EXIT
start_monitor() { # start_monitor LOG [OPTIONS...]: one monitor, up to its hidraw node
  local log=$1
  shift
  "${pin[@]}" "$native/tools/kv4sim-uhid/kv4sim-uhid" --monitors=1 --control="$control" "$@" >"$log" 2>&1 &
  uhid_pid=$!
  for _ in $(seq 300); do
    grep -q 'ready: /dev/hidraw' "$log" && return 0
    sleep 0.1
  done
  cat "$log"
  echo "FAIL: kv4sim-uhid brought up no monitor"
  exit 1
}

echo "== timed: hidapi and the library, their runs taking turns"
start_monitor "$out/kv4sim-uhid.log"
timeout 300 "${pin[@]}" "$program" "$@" >"$out/compare.out" 2>&1 || failed=1
cat "$out/compare.out"
stop_monitor
[ $failed -eq 0 ] || echo "FAIL: the timed run"

# kv4sim-uhid --verbose logs each report's ID and length; the frame is the same by construction.
echo "== the reports each half writes, from a short run with the monitor's log on"
start_monitor "$out/reports.log" --verbose
timeout 300 "${pin[@]}" "$program" "$@" --benchmark_repetitions=1 --benchmark_min_time=0.01 >"$out/reports.out" 2>&1 ||
  { cat "$out/reports.out"; echo "FAIL: the short run"; failed=1; }
stop_monitor
reports=$(sed -n 's/^monitor 1 output report //p' "$out/reports.log" | sort | uniq -c)
echo "$reports"
if [ "$(wc -l <<<"$reports")" -ne 1 ] || ! grep -q ' 1, 21 bytes$' <<<"$reports"; then
  echo "FAIL: the monitor got other output reports than report 1 of 21 bytes"
  failed=1
fi
exit $failed
