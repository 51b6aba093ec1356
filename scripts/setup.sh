# Installs from Debian's packages what building and testing need, when it is missing.
# Sourced by the scripts beside it; uses sudo when not run as root.
kv4_install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# libudev-dev: the Linux backend; libhidapi-dev: the benchmark of the library beside hidapi's
# hidraw backend (bench/hidapi_compare.cpp); make: CMake's default generator, for the plain builds.
# doxygen: the HTML reference, whose run under the tests fails on an undocumented export.
KV4_NATIVE_PACKAGES=(cmake ninja-build make g++ libgtest-dev libbenchmark-dev pkgconf libudev-dev libhidapi-dev doxygen)
# The fuzz preset: clang, and clang 14's runtimes with libFuzzer.
KV4_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
KV4_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64)
# The test VM (tests/vm/): QEMU boots Debian's kernel on a busybox initramfs; objcopy reads the
# dependencies out of the kernel's modules; the guest runs Windows programs with the host's Wine
# and the host's udev daemon, without whose events Wine's HID bus misses a replugged device.
KV4_VM_PACKAGES=(qemu-system-x86 busybox-static binutils wine64 udev)
# The release packages (scripts/package.sh): zip; llvm-dlltool for MSVC import libraries; clang and
# lld-link, which link an MSVC-ABI host to prove them; dpkg-dev and file, which CPack's Debian
# packages need for their dependencies and shlibs; lintian, which checks them.
KV4_RELEASE_PACKAGES=(zip unzip llvm clang lld dpkg-dev file lintian)
# The Python package (bindings/python/): its tests run under Debian's interpreter with Debian's
# pytest; its wheel is built without network access (setuptools, wheel) and installed into a fresh
# virtual environment (venv).
KV4_PYTHON_PACKAGES=(python3-pytest python3-pytest-asyncio python3-build python3-setuptools python3-wheel python3-venv)
# The .NET package (bindings/dotnet/): Mono's mcs and runtime, and NUnit 2.6 with its console runner.
KV4_DOTNET_PACKAGES=(mono-devel nunit-console libnunit-cil-dev)
