"""Synchronous status exchanges per second through the package, on a zero-latency simulated
monitor, beside the C library's figure for the same transaction (the Google Benchmark program of
bench/, when built: cmake --build --preset native --target kv4usbcp_bench).

    KV4USBCP_SIM_LIBRARY=build/native/libkv4usbcp_sim.so.3 /usr/bin/python3 bindings/python/bench_status.py
"""
import argparse
import re
import subprocess
import time
from pathlib import Path
from typing import Callable, Optional

from kv4usbcp import sim

_UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3}


def per_second(call: Callable[[], object], seconds: float) -> float:
    """The best rate of five rounds: on a shared machine the other loads only ever slow a round."""
    best = 0.0
    for _ in range(5):
        count, start = 0, time.perf_counter()
        while time.perf_counter() - start < seconds / 5:
            for _ in range(200):
                call()
            count += 200
        best = max(best, count / (time.perf_counter() - start))
    return best


def c_per_second(program: Path) -> Optional[float]:
    """The median of the C benchmark of one tkcmdsetUSB_do_command status transaction, per second."""
    if not program.exists():
        return None
    output = subprocess.run([str(program), "--benchmark_filter=^library_transaction$", "--benchmark_color=false"],
                            capture_output=True, text=True, check=True).stdout
    found = re.search(r"library_transaction_median\s+([\d.]+) (ns|us|ms)", re.sub(r"\x1b\[[0-9;]*m", "", output))
    return 1 / (float(found.group(1)) * _UNITS[found.group(2)]) if found else None


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--c-bench", type=Path,
                        default=Path(__file__).resolve().parents[2] / "build/native/bench/kv4usbcp_bench")
    options = parser.parse_args()
    sim.reset()
    sim.attach().set_wire_log(False)
    with sim.Library() as lib:
        port, = lib.find_monitors("Quillon5")
        # The C benchmark's transaction: the status frame, 19 answer bytes in the 20-byte report.
        python = per_second(lambda: port.command(b"\x0c", length=19), options.seconds)
        status = per_second(port.status, options.seconds)
    print(f"Python port.command(status frame, length=19): {python:10.0f} exchanges/s")
    print(f"Python port.status() (500-byte answer):       {status:10.0f} exchanges/s")
    c = c_per_second(options.c_bench)
    if c is None:
        print(f"C figure: {options.c_bench} not built")
    else:
        print(f"C tkcmdsetUSB_do_command (median):            {c:10.0f} exchanges/s; "
              f"Python takes {c / python:.1f}x as long per exchange")


if __name__ == "__main__":
    main()
