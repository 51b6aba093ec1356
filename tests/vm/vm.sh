#!/usr/bin/env bash
# Runs a scenario script as root inside a QEMU guest that boots Debian's stock kernel on this
# machine's own root filesystem, so tests can use the real HID stack (uhid, hidraw, hid-generic,
# Wine's hidraw backend) without touching the host's kernel. See tests/vm/README.md.
#
# Usage: bash tests/vm/vm.sh SCENARIO OUT_DIR [ARGS...]
#
# The guest runs `bash SCENARIO ARGS...` in the project's root with KV4_OUT=OUT_DIR (the same path
# as on the host, writable) and WINEPREFIX set; everything else it writes stays in guest memory.
# The scenario's output lands in OUT_DIR/scenario.log and QEMU's console in OUT_DIR/console.log.
# Exit status: the scenario's, or 1 when the guest gave no verdict (crash, time-out, set-up).
#
# Environment:
#   KV4_VM_TIMEOUT  seconds for QEMU, boot included (300); filling the cache comes on top
#   KV4_VM_ACCEL    kvm or tcg (kvm when /dev/kvm is usable and the CPU has VT-x or AMD-V)
#   KV4_VM_MODULES  more kernel modules to load before the scenario, packed on demand
#   KV4_VM_CACHE    where the kernel, initramfs and Wine prefix are kept (build/vm)
#   KV4_VM_MEM      guest memory in MiB (2560); KV4_VM_CPUS, its processors (2)
#   KV4_VM_VERBOSE  1 to follow the guest's console while it runs
# Variables named KV4_* or WINE* (but WINEPREFIX) reach the scenario unchanged.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=SCRIPTDIR/../../scripts/setup.sh
. "$root/scripts/setup.sh"

# Loaded before every scenario: the 9p shares and the overlay for the guest's root, and the HID
# core with hid-generic (without which uhid devices get no hidraw node) and uhid.
boot_modules=(virtio_pci 9pnet_virtio 9p overlay hid_generic uhid)
# Packed but loaded only on request, for tests that plug in emulated USB gadgets.
spare_modules=(usb_common usbcore udc_core configfs libcomposite usb_f_fs usbhid dummy_hcd)
# What the prefix needs to run without a display and to find uhid devices through hidraw with no
# udev daemon: SDL would claim them first, and without udevd winebus watches /dev by itself.
wine=/usr/lib/wine/wine64
wine_settings=(
  'HKCU\Software\Wine\Drivers|Graphics|REG_SZ|null'
  'HKLM\System\CurrentControlSet\Services\winebus|Enable SDL|REG_DWORD|0'
  'HKLM\System\CurrentControlSet\Services\winebus|DisableUdevd|REG_DWORD|1'
)

usage() {
  sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "${BASH_SOURCE[0]}" >&2
  exit 2
}
say() { echo "vm.sh: $*" >&2; }
die() {
  say "$*"
  exit 1
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

[ $# -ge 2 ] || usage
started=$(now)
scenario=$(realpath -e -- "$1") || die "no scenario $1"
mkdir -p -- "$2"
out=$(realpath -e -- "$2")
shift 2
[ "$out" != / ] || die "OUT_DIR must not be /"
# The guest gets its own /run, /dev, /proc and /sys: the host's are not there to be read.
hidden_from_guest() {
  case $1 in /run/* | /dev/* | /proc/* | /sys/*) return 0 ;; esac
  return 1
}
! hidden_from_guest "$scenario" || die "the guest cannot see $scenario: put it elsewhere"
cache=${KV4_VM_CACHE:-$root/build/vm}
time_limit=${KV4_VM_TIMEOUT:-300}
if ! [[ $time_limit =~ ^[0-9]+$ ]] || [ "$time_limit" -lt 30 ]; then
  die "KV4_VM_TIMEOUT must be a number of seconds, 30 or more"
fi
read -r -a extra_modules <<<"${KV4_VM_MODULES:-}"
# What goes into the initramfs, each name once, so asking for a spare module rebuilds nothing.
mapfile -t pack_modules < <(printf '%s\n' "${boot_modules[@]}" "${spare_modules[@]}" "${extra_modules[@]}" |
  tr - _ | awk '!seen[$0]++')

kv4_install_missing "${KV4_VM_PACKAGES[@]}"
cache=$(realpath -m -- "$cache")
# The guest uses the Wine prefix in the cache where it is.
! hidden_from_guest "$cache/" || die "the guest cannot see the cache $cache: set KV4_VM_CACHE elsewhere"
mkdir -p "$cache"

# The package linux-image-amd64 points at: its name changes with each new ABI, never hard-coded.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

# Sets kernel_deb and vmlinuz, downloading only a kernel the cache lacks.
fetch_kernel() {
  local package
  mkdir -p "$cache/kernel"
  package=$(kernel_package)
  if [ -z "$package" ]; then
    # A fresh machine has no package lists yet; a machine that cannot read them keeps the kernel
    # it fetched before.
    kernel_deb=$(find "$cache/kernel" -name 'linux-image-*.deb' | sort -V | tail -n 1)
    if [ -z "$kernel_deb" ]; then
      local sudo=""
      [ "$(id -u)" -eq 0 ] || sudo=sudo
      $sudo apt-get update -qq
      package=$(kernel_package)
      [ -n "$package" ] || die "apt-cache finds no package behind linux-image-amd64"
    fi
  fi
  if [ -n "$package" ]; then
    kernel_deb=$(find "$cache/kernel" -name "${package}_*.deb" | sort -V | tail -n 1)
    if [ -z "$kernel_deb" ]; then
      say "downloading $package"
      # apt drops to its own user to download, which cannot write into a root-owned directory.
      local sandbox=()
      [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
      (cd "$cache/kernel" && apt-get download -qq "${sandbox[@]}" "$package")
      kernel_deb=$(find "$cache/kernel" -name "${package}_*.deb" | sort -V | tail -n 1)
      [ -n "$kernel_deb" ] || die "apt-get download $package left no .deb"
      # The kernels it replaces, with their initramfs, would only fill the disk.
      find "$cache/kernel" -type f ! -name "${package}_*" -delete
    fi
  fi
  vmlinuz=${kernel_deb%.deb}.vmlinuz
}

# Copies module $1 and, first, every module it needs into $pack, appending them to $pack_order.
# Uses mod_file (name -> path in the extracted package) and builtin (names built into the kernel).
pack_module() {
  local name=${1//-/_} file depends dep
  [ -z "${packed[$name]:-}" ] || return 0
  packed[$name]=1
  file=${mod_file[$name]:-}
  if [ -z "$file" ]; then
    [ -n "${builtin[$name]:-}" ] || say "kernel module $name is not in the kernel package: skipped"
    needs[$name]=""
    return 0
  fi
  case $file in
    *.ko) cp "$file" "$pack/$name.ko" ;;
    *.ko.xz) xz -dc "$file" >"$pack/$name.ko" ;;
    *.ko.zst)
      kv4_install_missing zstd
      zstd -qdc "$file" >"$pack/$name.ko"
      ;;
    *.ko.gz) gzip -dc "$file" >"$pack/$name.ko" ;;
  esac
  depends=$(objcopy -O binary --only-section=.modinfo "$pack/$name.ko" /dev/stdout |
    tr '\0' '\n' | sed -n 's/^depends=//p')
  local list=""
  for dep in ${depends//,/ }; do
    pack_module "$dep"
    dep=${dep//-/_}
    list="$list ${needs[$dep]}"
  done
  # Every module the ones before it need, each once, in the order they were packed: a valid
  # loading order because each module is appended only after its own dependencies.
  local ordered="" m
  for m in "${pack_order[@]}"; do
    case " $list " in *" $m "*) ordered="$ordered $m" ;; esac
  done
  needs[$name]="${ordered# } $name"
  needs[$name]=${needs[$name]# }
  pack_order+=("$name")
}

# Builds the initramfs: busybox, /init, the modules and their loading order.
build_initramfs() {
  local work="$cache/initramfs.work" tree moddir
  rm -rf "$work"
  mkdir -p "$work/deb" "$work/root/bin" "$work/root/modules" \
    "$work/root/dev" "$work/root/proc" "$work/root/sys"
  say "unpacking $(basename "$kernel_deb")"
  dpkg-deb -x "$kernel_deb" "$work/deb"
  moddir=$(find "$work/deb/lib/modules" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  [ -n "$moddir" ] || die "no lib/modules in $kernel_deb"
  cp "$(find "$work/deb/boot" -name 'vmlinuz-*' | head -n 1)" "$vmlinuz"

  declare -gA mod_file=() builtin=() packed=() needs=()
  pack_order=()
  local path base
  while IFS= read -r path; do
    base=${path##*/}
    base=${base%%.ko*}
    mod_file[${base//-/_}]=$path
  done < <(find "$moddir/kernel" -name '*.ko' -o -name '*.ko.[gx]z' -o -name '*.ko.zst')
  while IFS= read -r path; do
    base=${path##*/}
    base=${base%%.ko*}
    builtin[${base//-/_}]=1
  done <"$moddir/modules.builtin"

  tree=$work/root
  pack=$tree/modules
  local name
  for name in "${pack_modules[@]}"; do
    pack_module "$name"
  done
  for name in "${!needs[@]}"; do
    echo "$name: ${needs[$name]}"
  done | sort >"$pack/needs"
  echo "${boot_modules[*]}" >"$pack/boot"
  cp "$here/modload" "$pack/load"
  cp "$here/init" "$tree/init"
  chmod 755 "$pack/load" "$tree/init"

  cp /bin/busybox "$tree/bin/busybox"
  for name in $(busybox --list); do
    [ "$name" = busybox ] || ln -s busybox "$tree/bin/$name"
  done
  (cd "$tree" && find . | busybox cpio -o -H newc -R 0:0 2>/dev/null) >"$initramfs.tmp"
  mv "$initramfs.tmp" "$initramfs"
  rm -rf "$work"
}

# Makes the Wine prefix the guest uses in place (its writes land in the guest's memory): made
# here, because Wine's first start takes a while and far longer under TCG.
build_wineprefix() {
  local key value type data
  rm -rf "$wineprefix"
  say "making the Wine prefix $wineprefix"
  (
    export WINEPREFIX=$wineprefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
    "$wine" wineboot --init >/dev/null 2>&1 || true
    for setting in "${wine_settings[@]}"; do
      IFS='|' read -r key value type data <<<"$setting"
      "$wine" reg add "$key" /v "$value" /t "$type" /d "$data" /f >/dev/null 2>&1 ||
        die "reg add $key $value failed"
    done
    /usr/lib/wine/wineserver -w
  )
}

# Everything below the lock is shared by concurrent runs with the same cache.
exec 8>"$cache/.lock"
flock 8
fetch_kernel
initramfs=${kernel_deb%.deb}.initramfs
stamp=$(
  {
    basename "$kernel_deb"
    cat "$here/init" "$here/modload"
    echo "${boot_modules[*]} / ${pack_modules[*]}"
    dpkg-query -W busybox-static
  } | sha256sum
)
if [ ! -f "$initramfs" ] || [ ! -f "$vmlinuz" ] || [ "$(cat "$initramfs.stamp" 2>/dev/null)" != "$stamp" ]; then
  build_initramfs
  echo "$stamp" >"$initramfs.stamp"
fi
wineprefix=$cache/wineprefix
stamp=$({
  "$wine" --version
  printf '%s\n' "${wine_settings[@]}"
} | sha256sum)
if [ ! -f "$wineprefix/system.reg" ] || [ "$(cat "$wineprefix.stamp" 2>/dev/null)" != "$stamp" ]; then
  build_wineprefix
  echo "$stamp" >"$wineprefix.stamp"
fi
flock -u 8
exec 8>&-

# The control share: the job for the guest's init, and the verdict it leaves.
ctl=$(mktemp -d "${TMPDIR:-/tmp}/kv4-vm.XXXXXX")
follower=""
# shellcheck disable=SC2317 # called by the trap
cleanup() {
  [ -z "$follower" ] || kill "$follower" 2>/dev/null || true
  rm -rf "$ctl"
}
trap cleanup EXIT

# The guest's deadline leaves it time to power off before the outer timeout kills QEMU.
deadline=$((time_limit - 10))
sh_quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }
{
  echo "KV4_VM_OUT=$(sh_quote "$out")"
  echo "KV4_VM_MODULES=$(sh_quote "${extra_modules[*]}")"
  echo "KV4_VM_DEADLINE=$deadline"
} >"$ctl/job"
{
  # Debian's wine64 package keeps wine64 and wineserver out of /usr/bin.
  echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin:/usr/lib/wine'
  echo 'export HOME=/root LANG=C.UTF-8 TERM=dumb'
  while IFS= read -r name; do
    [ "$name" = WINEPREFIX ] || printf 'export %s=%q\n' "$name" "${!name}"
  done < <(compgen -e | grep -E '^(KV4_|WINE)' || true)
  printf 'export KV4_OUT=%q WINEPREFIX=%q\n' "$out" "$wineprefix"
  # Wine refuses a prefix its user does not own; chown copies up only the directory itself.
  # shellcheck disable=SC2016 # expanded in the guest
  echo '[ -O "$WINEPREFIX" ] || chown "$(id -u)" "$WINEPREFIX"'
  printf 'cd %q\n' "$root"
  printf 'exec bash %q' "$scenario"
  printf ' %q' "$@"
  echo
} >"$ctl/run.sh"

accel=${KV4_VM_ACCEL:-}
if [ -z "$accel" ]; then
  # /dev/kvm alone is not enough: without VT-x or AMD-V it can be a paravirtual KVM (PVM, as on
  # some cloud machines) that only runs kernels built for it, and Debian's hangs there at boot.
  accel=tcg
  if [ -r /dev/kvm ] && [ -w /dev/kvm ] && grep -q -w -E 'vmx|svm' /proc/cpuinfo; then
    accel=kvm
  fi
fi
case $accel in
  kvm) cpu=host ;;
  tcg) cpu=max,-smap ;;
  *) die "KV4_VM_ACCEL must be kvm or tcg, not $accel" ;;
esac

console=$out/console.log
rm -f "$console" "$out/scenario.log"
: >"$console"
# QEMU's option syntax takes a doubled comma for a comma inside a value.
share() { echo "local,path=${1//,/,,},mount_tag=$2,security_model=none,multidevs=remap$3"; }
qemu=(
  qemu-system-x86_64 -nodefaults -no-user-config -no-reboot
  -machine pc -accel "$accel" -cpu "$cpu" -smp "${KV4_VM_CPUS:-2}" -m "${KV4_VM_MEM:-2560}"
  -display none -monitor none -nic none
  -chardev "file,id=console,path=${console//,/,,}" -serial chardev:console
  -kernel "$vmlinuz" -initrd "$initramfs"
  -append 'console=ttyS0 panic=-1 quiet loglevel=4'
  -virtfs "$(share / hostroot ,readonly=on)"
  -virtfs "$(share "$out" kv4out '')"
  -virtfs "$(share "$ctl" kv4ctl '')"
)
say "prepared in $(since "$started") s; booting ($accel, limit $time_limit s)"
if [ "${KV4_VM_VERBOSE:-0}" = 1 ]; then
  tail -n +1 -f "$console" >&2 &
  follower=$!
fi
booted=$(now)
qemu_status=0
timeout -k 5 "$time_limit" "${qemu[@]}" </dev/null || qemu_status=$?
ran=$(since "$booted")

[ ! -f "$out/scenario.log" ] || cat "$out/scenario.log"
verdict=$(cat "$ctl/status" 2>/dev/null || true)
if [ -z "$verdict" ]; then
  # The control share may have failed where the console did not.
  verdict=$(sed -n 's/^KV4VM-EXIT \([0-9]*\).*/exit=\1/p' "$console" | tail -n 1)
fi
case $verdict in
  exit=*)
    status=${verdict#exit=}
    status=${status%% *}
    say "guest: $verdict; QEMU ran $ran s, $(since "$started") s in all"
    case $verdict in *timed_out=*) say "the scenario was stopped at the guest's time limit" ;; esac
    if [ "$status" -eq 0 ]; then say "PASS"; else say "FAIL: the scenario exited $status"; fi
    exit "$status"
    ;;
  *)
    if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
      say "FAIL: QEMU was killed after $time_limit s with no verdict from the guest"
    else
      say "FAIL: no verdict from the guest (QEMU exited $qemu_status after $ran s): ${verdict:-the guest left no status}"
    fi
    say "the guest's console ($console) ends with:"
    tail -n 20 "$console" >&2
    exit 1
    ;;
esac
