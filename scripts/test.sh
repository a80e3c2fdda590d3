#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite under Wine.
#   - The shipped 32-bit programs are checked on the host (import list, subsystem).
#   - Where the CPU runs 32-bit code: the 32-bit suite in a 64-bit prefix (the updater
#     runs under WOW64) and in a 32-bit prefix (it does not).
#   - Always: the same suite built for x86-64, in a 64-bit prefix.
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

# A tiny volume that a test fills up, to show that a log that cannot be written switches off
# instead of failing the update. Mounting needs root; without it that test skips.
small_volume=$build/wine/small-volume
mkdir -p "$small_volume"
if mountpoint -q "$small_volume" ||
    mount -t tmpfs -o size=8m kyr-small-volume "$small_volume" 2>/dev/null; then
    trap 'umount "$small_volume" 2>/dev/null || true' EXIT
    export KYR_SMALL_VOLUME="Z:${small_volume//\//\\}"
else
    echo "note: could not mount a small tmpfs volume; the full-volume log test will skip"
fi

status=0
bash "$root/scripts/tidy.sh" || status=1 # clang-tidy of the programs' code (.clang-tidy)
run_suite() { # name build-dir prefix-arch expect-wow64 [ctest args]
    local name=$1 dir=$2 arch=$3 wow64=$4
    shift 4
    echo "=== $name ==="
    kyr_wine_prefix "$arch" "$build/wine/$name" "$(kyr_wine_loader "$name")" || { status=1; return; }
    export KYR_EXPECT_WOW64=$wow64
    # A drive letter of the prefix mapped to a folder of its own, for a launcher that lies in
    # the root of a drive.
    local drive=$build/wine/$name-drive-q
    rm -rf "$drive" && mkdir -p "$drive"
    if [ "$(readlink "$WINEPREFIX/dosdevices/q:" 2>/dev/null)" != "$drive" ]; then
        ln -sfn "$drive" "$WINEPREFIX/dosdevices/q:"
        # The running server knows only the drives it started with.
        kyr_wine_stop
        wineserver -p 2>/dev/null || true
    fi
    export KYR_DRIVE_ROOT='Q:\'
    # The host checks ran above, once.
    # A display for the console tests of the launcher. Wine's own services start with the
    # first program of a session and would inherit ctest's output pipes: start them first.
    if ! xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$0" cmd /c exit >/dev/null 2>&1 </dev/null
        exec ctest --test-dir "$1" --output-on-failure -j2 -LE host "${@:2}"' \
        "$(kyr_wine_loader "$name")" "$dir" "$@"; then
        status=1
    fi
    kyr_wine_stop
}

echo "=== host checks of the shipped programs ==="
ctest --test-dir "$build/i686" --output-on-failure -L host || status=1

if kyr_native_32bit; then
    run_suite wow64 "$build/i686" win64 1 "$@"
    run_suite win32 "$build/i686" win32 0 "$@"
else
    echo "note: this CPU does not execute 32-bit x86 code; the 32-bit programs were built and"
    echo "      checked, and the tests run on the x86-64 build of the same sources only"
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
exit $status
