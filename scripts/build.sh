#!/usr/bin/env bash
# Configures (CMakePresets.json's presets i686 and x64) and builds into $KYR_BUILD_DIR
# (default: build/):
#   build/i686  the shipped 32-bit programs, their fixtures and tests;
#   build/x64   the same sources built for x86-64, to run the tests on machines whose
#               CPU cannot execute 32-bit code (see README, "Testing").
# KYR_WARNINGS_AS_ERRORS=ON (CI sets it) makes a warning in the programs' own code an error.
# Usage: scripts/build.sh [i686|x64]...   (default: both)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
build=${KYR_BUILD_DIR:-$root/build}
targets=("$@")
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2
[ ${#targets[@]} -gt 0 ] || targets=(i686 x64)
for target in "${targets[@]}"; do
    case $target in
        i686 | x64) ;;
        *) echo "build: unknown target $target (i686 or x64)" >&2; exit 2 ;;
    esac
    # The 32-bit tests are built everywhere, so that they compile, and registered with ctest
    # where they run: where the CPU executes 32-bit code (see wine-env.sh), and else in the
    # emulated machine (scripts/vm32) unless KYR_EMULATED=0 turns that off.
    register=ON
    if [ "$target" = i686 ] && [ "${KYR_EMULATED:-1}" = 0 ] && ! kyr_native_32bit; then
        register=OFF
    fi
    # The configure presets (CMakePresets.json) hold the settings; -B keeps $KYR_BUILD_DIR,
    # which a preset cannot default, and so the build goes by folder, not by build preset.
    (cd "$root" && cmake --preset "$target" -B "$build/$target" \
        -DKYR_REGISTER_TESTS=$register \
        -DKYR_WARNINGS_AS_ERRORS="${KYR_WARNINGS_AS_ERRORS:-OFF}" >/dev/null)
    cmake --build "$build/$target" -j"$jobs"
done
