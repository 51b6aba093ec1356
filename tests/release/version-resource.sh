#!/usr/bin/env bash
# Checks the version resource of Windows binaries, as the version_resource program reads it back
# under Wine with GetFileVersionInfoA: the fixed part's file and product versions and file type
# (VFT_APP 1, VFT_DLL 2), and the strings a release sets.
# usage: version-resource.sh VERSION READER_EXE BINARY...
set -euo pipefail
version=$1 reader=$2
shift 2
wine=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run
IFS=. read -r major minor patch <<<"$version"
fixed=$(printf '%04x%04x%04x0000' "$major" "$minor" "$patch")
status=0
for binary in "$@"; do
  file=$(basename "$binary")
  if ! resource=$("$wine" "$reader" "$binary" CompanyName FileDescription ProductName FileVersion ProductVersion \
                  OriginalFilename | tr -d '\r'); then
    echo "$binary: no version resource"; status=1; continue
  fi
  type=1 && [ "${file##*.}" = dll ] && type=2
  wrong=0
  for line in "$fixed $fixed $type" ProductName=KV4USBCP FileVersion="$version" ProductVersion="$version" \
              OriginalFilename="$file"; do
    grep -qxF "$line" <<<"$resource" || { echo "$binary: no line '$line'"; wrong=1; }
  done
  for name in CompanyName FileDescription; do
    grep -q "^$name=." <<<"$resource" || { echo "$binary: no $name"; wrong=1; }
  done
  [ $wrong -eq 0 ] || { printf '%s read back:\n%s\n' "$binary" "$resource"; status=1; }
done
exit $status
