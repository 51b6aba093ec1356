#!/usr/bin/env bash
# Synchronous status exchanges a second on one zero-latency simulated monitor: through the .NET
# package under Mono, and through the C library (kv4usbcp_bench's library_transaction, the same
# command and answer length), with their ratio. Usage: bindings/dotnet/bench/bench.sh [BUILD] (default build/native,
# built with its targets kv4usbcp_dotnet and kv4usbcp_bench).
set -euo pipefail
build=${1:-build/native}
dotnet=$(mono "$build/bindings/dotnet/tests/KV4UsbCp.Bench.exe" 2)
echo "$dotnet"
dotnet_ns=$(echo "$dotnet" | awk '/^Command/ {gsub(",", "", $(NF-2)); print $(NF-2)}')
c_ns=$("$build/bench/kv4usbcp_bench" --benchmark_filter='^library_transaction$' 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' |
       awk '$1 == "library_transaction_median" {print $2}')
awk -v c="$c_ns" -v d="$dotnet_ns" 'BEGIN {
  printf "C library (median of 5)    %12.0f exchanges/s  %8.0f ns each\n", 1e9 / c, c
  printf ".NET / C time per exchange: %.1fx\n", d / c }'
