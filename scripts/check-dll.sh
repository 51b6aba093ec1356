#!/usr/bin/env bash
# Checks a Windows build: each DLL exports exactly the names of its .def file, and the DLLs and
# kv4usb.exe import only system DLLs (the C and C++ runtimes are linked in).
set -euo pipefail
build=${1:-build/mingw}
objdump=x86_64-w64-mingw32-objdump
allowed='^(KERNEL32|msvcrt|HID|hid|SETUPAPI|setupapi|USER32|user32|ADVAPI32|advapi32)\.(dll|DLL)$'
status=0

exports_of() { "$objdump" -p "$1" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | awk '/^\t\[/{print $NF}' | sort; }
def_names() { sed -n '/^EXPORTS/,$p' "$1" | awk 'NF && $1 != "EXPORTS" {print $1}' | sort; }

imports=""
system_imports_only() {
  imports=$("$objdump" -p "$1" | awk '/DLL Name:/{print $3}')
  for name in $imports; do
    if ! [[ $name =~ $allowed ]]; then echo "$1 imports $name, which is not a system DLL"; status=1; fi
  done
}

check() {
  local dll=$1 def=$2
  system_imports_only "$dll"
  if ! diff <(exports_of "$dll") <(def_names "$def") >/dev/null; then
    echo "$dll does not export exactly the names of $def:"; diff <(exports_of "$dll") <(def_names "$def") || true; status=1
  fi
  echo "$dll: imports $(echo $imports | tr '\n' ' '); $(exports_of "$dll" | wc -l) exports"
}

check "$build/KV4USBCP.dll" src/api/KV4USBCP.def
check "$build/KV4USBCP_sim.dll" "$build/KV4USBCP_sim.def"
system_imports_only "$build/tools/kv4usb/kv4usb.exe"
echo "$build/tools/kv4usb/kv4usb.exe: imports $(echo $imports | tr '\n' ' ')"
[ -f "$build/KV4USBCP.lib" ] && [ -f "$build/KV4USBCP.dll.a" ] || { echo "import libraries missing"; status=1; }
exit $status
