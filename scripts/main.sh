#!/usr/bin/env bash
# Builds the library and the kv4usb host and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
kv4_install_missing "${KV4_NATIVE_PACKAGES[@]}"
cmake --preset native >/dev/null
cmake --build --preset native
# Without arguments: the guided demo session on a simulated monitor.
./build/native/tools/kv4usb/kv4usb "${@:-demo}"
