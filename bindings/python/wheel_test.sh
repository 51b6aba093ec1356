#!/usr/bin/env bash
# Builds the wheel with this build's native libraries inside, installs it into a fresh virtual
# environment without network access, and runs a status exchange on a simulated monitor from it,
# away from the source tree and with no library path in the environment: the installed package
# must find its own libraries.
# Usage: wheel_test.sh LIBKV4USBCP LIBKV4USBCP_SIM WORK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
production=$1 simulator=$2 work=$3
python=/usr/bin/python3

rm -rf "$work"
mkdir -p "$work/src"
# The wheel is built from a copy, so that setuptools' build/ and egg-info stay out of the sources.
cp -r "$here/kv4usbcp" "$here/pyproject.toml" "$here/setup.py" "$here/README.md" "$work/src/"
rm -rf "$work/src/kv4usbcp/_native" "$work/src/kv4usbcp/__pycache__"
mkdir "$work/src/kv4usbcp/_native"
cp -L "$production" "$simulator" "$work/src/kv4usbcp/_native/"
(cd "$work/src" && $python -m build --wheel --no-isolation --outdir "$work/dist" >"$work/build.log" 2>&1) ||
  { cat "$work/build.log"; exit 1; }
wheel=$(ls "$work"/dist/kv4usbcp-*.whl)
echo "built $(basename "$wheel")"
$python -m zipfile -l "$wheel" | grep -E "_native/|py.typed"

$python -m venv "$work/venv"
"$work/venv/bin/pip" install --no-index --quiet "$wheel"
cd "$work"
env -u KV4USBCP_LIBRARY -u KV4USBCP_SIM_LIBRARY PYTHONDONTWRITEBYTECODE=1 "$work/venv/bin/python" - "$work/venv" <<'PY'
import sys
import kv4usbcp
from kv4usbcp import sim

assert kv4usbcp.__file__.startswith(sys.argv[1]), kv4usbcp.__file__
monitor = sim.attach(serial="WHEEL-1")
with sim.Library() as lib:
    port, = lib.find_monitors("Quillon5")
    print(f"simulated monitor {port.serial} on port {port.number}: status {port.status():#010x}")
    assert port.status() == 0x01000000
with kv4usbcp.Library() as lib:
    print("production library", lib.version, "loaded from", lib.native.dll._name)
    assert "_native" in lib.native.dll._name
PY
