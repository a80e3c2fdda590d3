#!/usr/bin/env bash
# Where the CPU executes no 32-bit x86 code: the suites of the shipped 32-bit build in the
# WOW64 and the win32 prefix, inside the emulated machine of scripts/vm32/run. Called by
# scripts/test.sh after the host's own suites; also on its own, for the i686 suites only:
#   bash scripts/vm32/emulated-suites.sh [wow64] [win32] [-- ctest args]
# The build (KYR_BUILD_DIR, default build/) must be made, the i686 one with its tests
# registered (scripts/build.sh does so where this runs).
#
# Prefixes are kept outside the checkout, in KYR_PREFIX_CACHE (default
# /var/cache/kyr-tools/wine), below a folder named for Wine's version and the way they are
# made, so that a later run on this machine (a fresh clone too) finds them and a new Wine or
# recipe gets new ones. A prefix takes 7-12 minutes in the guest. A WOW64 prefix made on the
# host (by the 64-bit Wine, in seconds) does not serve: the 32-bit half of its set-up needs
# 32-bit code, so its syswow64 stays empty and no 32-bit program starts in it ("could not
# load kernel32.dll").
#
# Time limits inside the tests are stretched by KYR_TIME_SCALE (support/time_scale.h): the
# guest runs them with ten times the caller's value (default 1), since a Wine process starts
# 10-15 times slower there and computes about 4 times slower.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(realpath -m "${KYR_BUILD_DIR:-$root/build}")
. "$root/scripts/wine-env.sh"
suites=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do suites+=("$1"); shift; done
[ "${1:-}" != -- ] || shift

if ! grep -q '^KYR_REGISTER_TESTS:BOOL=ON' "$build/i686/CMakeCache.txt" 2>/dev/null; then
    echo "emulated suites: $build/i686 is not built with its tests registered" \
        "(scripts/build.sh i686)" >&2
    exit 1
fi

# What makes a prefix: Wine's version and the recipe (the function that makes a prefix and the
# settings it runs with).
recipe="$(declare -f kyr_wine_prefix)
WINEDLLOVERRIDES=$WINEDLLOVERRIDES"
wine_version=$(dpkg-query -W -f='${Version}' wine 2>/dev/null || wine64 --version)
key=wine-${wine_version//[^A-Za-z0-9.+-]/_}-$(echo "$recipe" | sha256sum | cut -c1-12)
cache=$(realpath -m "${KYR_PREFIX_CACHE:-/var/cache/kyr-tools/wine}")
prefixes=$cache/$key

# The folders the guest writes: the checkout (a fresh clone may lie below /tmp, which the guest
# has empty), the build when it is elsewhere, and the prefixes.
shares=(-w "$root" -w "$prefixes")
case $build/ in "$root"/*) ;; *) shares+=(-w "$build") ;; esac
for dir in "$root" "$build" "$prefixes"; do
    case $dir in
        *[[:space:]]*)
            echo "emulated suites: the guest cannot share a folder with blanks in its path: $dir" >&2
            exit 1
            ;;
    esac
done

mkdir -p "$cache"
(
    flock 9
    # Prefixes of an older Wine or recipe are of no further use.
    for old in "$cache"/wine-*; do
        [ ! -d "$old" ] || [ "$old" = "$prefixes" ] || { echo "emulated suites: removing $old"; rm -rf "$old"; }
    done
) 9>"$cache/lock"
for name in wow64 win32; do
    [ -f "$prefixes/$name/.kyr-ready" ] ||
        echo "emulated suites: the $name prefix is made in the guest first (7-12 minutes, once)"
done

scale=$((${KYR_TIME_SCALE:-1} * 10))
# The two crash tests kill the updater at 44 and 18 points of its run, two updater runs each,
# which takes 4-10 minutes on the host already; here they alone would take hours. The guest
# kills it at 8 points of each (KYR_KILL_POINTS), spread evenly over those next to a phase
# boundary, so every phase is still hit; KYR_KILL_POINTS=44 asks for every point.
export KYR_KILL_POINTS=${KYR_KILL_POINTS-8}
envs=(-e "KYR_TIME_SCALE=$scale")
for name in KYR_KEEP_TEMP KYR_KILL_POINTS; do
    [ -z "${!name:-}" ] || envs+=(-e "$name=${!name}")
done
echo "emulated suites: ${suites[*]:-wow64 win32} in the emulated machine, KYR_TIME_SCALE=$scale," \
    "KYR_KILL_POINTS=$KYR_KILL_POINTS, prefixes in $prefixes"
exec bash "$root/scripts/vm32/run" "${shares[@]}" "${envs[@]}" -C "$root" \
    -t "${KYR_EMULATED_LIMIT:-5400}" -- \
    bash "$root/scripts/vm32/i686-suites.sh" "$build" "$prefixes" "${suites[@]}" -- "$@"
