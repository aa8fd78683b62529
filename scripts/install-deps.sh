#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test quorrin, natively and for 32- and
# 64-bit Windows.
# Idempotent: packages already present are left alone, and apt is only asked when something is missing.
set -euo pipefail

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo "$@"; else echo "install-deps: need root for: $*" >&2; exit 1; fi
  else
    "$@"
  fi
}

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

native_pkgs=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev
             clang libclang-rt-14-dev valgrind binutils-mingw-w64-i686 g++-mingw-w64-i686
             binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix zip unzip)
wine_pkgs=(wine wine32:i386 wine64)

missing=()
for p in "${native_pkgs[@]}"; do have_pkg "$p" || missing+=("$p"); done
if [ "${QUORRIN_NO_WINE:-0}" != 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_root dpkg --add-architecture i386
    missing+=("${wine_pkgs[@]}")
  else
    for p in "${wine_pkgs[@]}"; do have_pkg "$p" || missing+=("$p"); done
  fi
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  need_root apt-get update -q
  need_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine's loader is a 32-bit Linux program. A kernel built or booted without 32-bit support
# ("Exec format error") runs it through qemu's user-mode emulator instead, registered with
# binfmt_misc; slower, but the same Wine and the same DLL.
if [ "${QUORRIN_NO_WINE:-0}" != 1 ] && [ -x /lib/i386-linux-gnu/ld-linux.so.2 ] &&
   ! /lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null 2>&1; then
  if ! have_pkg qemu-user-static; then
    echo "install-deps: this kernel runs no 32-bit programs; installing qemu-user-static for Wine"
    need_root apt-get update -q
    need_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends qemu-user-static
  fi
  misc=/proc/sys/fs/binfmt_misc
  [ -e "$misc/register" ] || need_root mount -t binfmt_misc binfmt_misc "$misc"
  if [ ! -e "$misc/qemu-i386" ]; then
    # i386 ELF executables (and shared objects run as programs), fixed to the static emulator.
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" | need_root tee "$misc/register" >/dev/null
  fi
  /lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null 2>&1 ||
    { echo "install-deps: 32-bit programs still do not run; Wine cannot start" >&2; exit 1; }
fi

# The -posix compilers carry std::thread and std::mutex; pick them if alternatives point elsewhere.
for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
  if command -v update-alternatives >/dev/null 2>&1 && [ -x "/usr/bin/$triplet-g++-posix" ]; then
    need_root update-alternatives --set "$triplet-g++" "/usr/bin/$triplet-g++-posix" >/dev/null 2>&1 || true
    need_root update-alternatives --set "$triplet-gcc" "/usr/bin/$triplet-gcc-posix" >/dev/null 2>&1 || true
  fi
done
echo "install-deps: ready"
