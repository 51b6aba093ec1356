#!/usr/bin/env bash
# Builds and runs every test suite: native, AddressSanitizer+UBSan, ThreadSanitizer, bounded
# libFuzzer runs of every fuzz target (what a monitor and the system hand the library), and the
# Windows build under Wine, whose last suite runs in the test VM on kv4sim-uhid monitors from the
# native build; then makes the release packages from the Windows and Linux builds and checks them
# as their users take them (the Debian ones installed in the test VM), and builds the plain Release
# configurations with g++, clang and MinGW. Installs what a fresh Debian machine lacks first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
kv4_install_missing "${KV4_NATIVE_PACKAGES[@]}" "${KV4_FUZZ_PACKAGES[@]}" "${KV4_WINDOWS_PACKAGES[@]}" \
  "${KV4_VM_PACKAGES[@]}" "${KV4_RELEASE_PACKAGES[@]}"
# The language packages' tests, under the native preset.
kv4_install_missing "${KV4_PYTHON_PACKAGES[@]}" "${KV4_DOTNET_PACKAGES[@]}"

for preset in native asan tsan fuzz mingw; do
  echo "==== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
bash scripts/check-dll.sh build/mingw

echo "==== release packages"
bash scripts/package.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw/CMakeCache.txt)
bash tests/release/windows-sdk.sh "dist/KV4USBCP-$version-win64.zip" build/mingw build/windows-sdk
bash tests/release/version.sh "$version" . build/native dist
lintian --fail-on error --tag-display-limit 0 dist/*.deb
bash tests/release/debian.sh dist build/debian-check
# Installed with dpkg in the test VM, used by a user without root on a kv4sim-uhid monitor, removed
# (one and a half to four minutes under TCG, with its boot). The guest runs on one core while the
# plain builds below take the others; its verdict is waited for at the end.
KV4_VM_TIMEOUT=900 bash tests/vm/vm.sh tests/vm/debian_packages.sh build/vm-debian dist >build/vm-debian.log 2>&1 &
debian_vm=$!

# The builds a user types first, without presets: Release with g++, with clang, and for Windows.
# Their test programs are built, not run. Warnings never fail a user's build, but they fail this
# one, so that a warning that only -O3 or another compiler gives is seen here first.
plain_release() { # folder name, then further cache settings
  local folder="build/release-$1"
  shift
  echo "==== $folder"
  cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DKV4_WERROR=ON "$@" >/dev/null
  cmake --build "$folder"
}
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
CC=gcc CXX=g++ plain_release gcc
CC=clang CXX=clang++ plain_release clang
plain_release mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

echo "==== the Debian packages in the test VM"
debian_vm_status=0
wait "$debian_vm" || debian_vm_status=$?
cat build/vm-debian.log
exit "$debian_vm_status"
