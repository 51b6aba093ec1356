#!/usr/bin/env bash
# Builds and runs every test suite: native, AddressSanitizer+UBSan, ThreadSanitizer, a bounded
# libFuzzer run on the report descriptor parser, and the Windows build under Wine, whose last suite
# runs in the test VM on kv4sim-uhid monitors from the native build. Installs what a fresh Debian
# machine lacks first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
kv4_install_missing "${KV4_NATIVE_PACKAGES[@]}" "${KV4_FUZZ_PACKAGES[@]}" "${KV4_WINDOWS_PACKAGES[@]}" \
  "${KV4_VM_PACKAGES[@]}"

for preset in native asan tsan fuzz mingw; do
  echo "==== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
bash scripts/check-dll.sh build/mingw
