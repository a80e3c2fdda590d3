#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite under Wine.
#   - The shipped 32-bit programs are checked on the host (import list, subsystem).
#   - Where the CPU runs 32-bit code: the 32-bit suite in a 64-bit prefix (the updater
#     runs under WOW64) and in a 32-bit prefix (it does not).
#   - Always: the same suite built for x86-64, in a 64-bit prefix.
#   - Where the CPU executes no 32-bit code: last, the 32-bit suite in both prefixes inside
#     an emulated machine that does (scripts/vm32; KYR_EMULATED=0 leaves it out, and the
#     verdict then says that the shipped 32-bit programs were not executed).
#   - The test kit for Windows (both builds make one), run from its zip as on Windows:
#     `cmd /c run-tests.cmd` in a fresh prefix, from a folder whose path has blanks, with a
#     Cyrillic %TEMP%; the 32-bit kit where the CPU runs 32-bit code, else the x86-64 one.
#     Only without ctest arguments.
# Usage: scripts/test.sh [ctest arguments...]   e.g. scripts/test.sh -R Guard
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KYR_BUILD_DIR:-$root/build}
export KYR_BUILD_DIR=$build

bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
for target in i686 x64; do
    cmake --build "$build/$target" --target test-kit >/dev/null
done
. "$root/scripts/wine-env.sh"

. "$root/scripts/suites.sh"
kyr_small_volume "$build/wine/small-volume"

status=0
bash "$root/scripts/tidy.sh" || status=1 # clang-tidy of the programs' code (.clang-tidy)
run_suite() { # name build-dir prefix-arch expect-wow64 [ctest args]
    local name=$1 dir=$2 arch=$3 wow64=$4
    shift 4
    kyr_run_suite "$name" "$dir" "$arch" "$wow64" "$build/wine/$name" \
        "$build/wine/$name-drive-q" "$@"
}

echo "=== host checks of the shipped programs ==="
ctest --test-dir "$build/i686" --output-on-failure -L host || status=1

emulated=
if kyr_native_32bit; then
    run_suite wow64 "$build/i686" win64 1 "$@"
    run_suite win32 "$build/i686" win32 0 "$@"
elif [ "${KYR_EMULATED:-1}" != 0 ]; then
    emulated=run # below, after everything that runs here
else
    emulated=off
fi
run_suite x64 "$build/x64" win64 0 "$@"

if [ $# -eq 0 ]; then
    if kyr_native_32bit; then
        kit=i686 loader=$(kyr_wine_loader wow64)
    else
        kit=x64 loader=$(kyr_wine_loader x64)
    fi
    zip=$(ls "$build/$kit"/kyr-tools-*-tests.zip)
    echo "=== test kit $(basename "$zip"): every suite ==="
    bash "$root/scripts/run-kit.sh" "$zip" "$kit" "$loader" --cyrillic-temp || status=1
    # A kit folder that cannot be written: the results go below that %TEMP%.
    echo "=== test kit $(basename "$zip"): read-only, two suites ==="
    bash "$root/scripts/run-kit.sh" "$zip" "$kit-read-only" "$loader" --cyrillic-temp \
        --read-only updaterUnitTests launcherRunTests || status=1
else
    echo "note: with ctest arguments the test kit is not run"
fi

# This CPU executes no 32-bit code: the shipped programs' suites in an emulated machine.
if [ "$emulated" = run ]; then
    started=$(date +%s)
    echo "=== the 32-bit suites in the emulated machine (scripts/vm32) ==="
    bash "$root/scripts/vm32/emulated-suites.sh" -- "$@" || status=1
    echo "=== the emulated machine: $(($(date +%s) - started)) s ==="
fi

if [ "$emulated" = off ]; then
    echo "verdict: KYR_EMULATED=0 and this CPU executes no 32-bit x86 code: the shipped" \
        "32-bit programs were not executed (only built and checked on the host)"
elif [ "$emulated" = run ] && [ "${KYR_KILL_POINTS-8}" -lt 44 ]; then
    echo "verdict: in the emulated machine the crash tests killed the 32-bit updater at only" \
        "${KYR_KILL_POINTS-8} points of its run each (KYR_KILL_POINTS; 44 for all of them), the" \
        "x86-64 suite at all of them"
fi
[ $status = 0 ] && echo "verdict: every suite passed" || echo "verdict: FAILED (see above)"
exit $status
