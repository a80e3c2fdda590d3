#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as root).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

have_cmd cmake || need+=(cmake)
have_cmd i686-w64-mingw32-g++-posix || need+=(g++-mingw-w64-i686)
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64)
have_pkg binutils-mingw-w64-x86-64 || need+=(binutils-mingw-w64-x86-64)
have_pkg mingw-w64-i686-dev || need+=(mingw-w64-i686-dev)
have_pkg binutils-mingw-w64-i686 || need+=(binutils-mingw-w64-i686)
have_cmd xvfb-run || need+=(xvfb)
have_cmd xauth || need+=(xauth)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
have_pkg wine32:i386 || need+=(wine32:i386)
have_cmd wine || need+=(wine)
have_pkg wine64 || need+=(wine64)
# The release: a reproducible zip, Authenticode signatures, and the tools its tests use.
have_cmd zip || need+=(zip)
have_cmd unzip || need+=(unzip)
have_cmd osslsigncode || need+=(osslsigncode)
have_cmd openssl || need+=(openssl)
have_cmd strings || need+=(binutils)
# Code checks: clang-tidy over the programs' code (scripts/tidy.sh), clang-format's style.
have_cmd clang-tidy-14 || need+=(clang-tidy-14)
have_cmd clang-format || need+=(clang-format)

install_packages() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages: $*; run this script as root to install them" >&2
        exit 1
    fi
    echo "setup: installing $*"
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    if ! apt-get update -q; then
        echo "setup: apt-get update failed; is Debian's package registry reachable?" >&2
        exit 1
    fi
    if ! apt-get install -y -q --no-install-recommends "$@"; then
        echo "setup: apt-get install failed for: $*" >&2
        exit 1
    fi
    echo "setup: done"
}

[ ${#need[@]} -eq 0 ] || install_packages "${need[@]}"

# Where the CPU executes no 32-bit x86 code, the 32-bit suites run in an emulated machine
# (scripts/vm32): QEMU, and a static busybox for its initramfs. Asked only now, since the
# check runs a 32-bit program, which needs the 32-bit C library that Wine brings.
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
emulator=()
if [ "${KYR_EMULATED:-1}" != 0 ] && ! kyr_native_32bit; then
    have_cmd qemu-system-x86_64 || emulator+=(qemu-system-x86)
    have_pkg busybox-static || emulator+=(busybox-static)
fi
[ ${#emulator[@]} -eq 0 ] || install_packages "${emulator[@]}"
[ ${#need[@]} -gt 0 ] || [ ${#emulator[@]} -gt 0 ] || echo "setup: all tools present"
