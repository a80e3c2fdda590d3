#!/usr/bin/env bash
# Inside the emulated machine (scripts/vm32/run): the suites of the shipped 32-bit build in
# the WOW64 and the win32 prefix, as scripts/test.sh runs them where the CPU executes 32-bit
# code. The build is made on the host, with KYR_REGISTER_TESTS=ON.
# Usage: scripts/vm32/i686-suites.sh BUILD PREFIXES [wow64] [win32] [-- ctest args]
#   BUILD     the build root (KYR_BUILD_DIR): BUILD/i686 is tested, BUILD/wine holds the
#             drive Q: folders and the small volume
#   PREFIXES  the folder of the kept prefixes, PREFIXES/wow64 and PREFIXES/win32
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$1 prefixes=$2
shift 2
suites=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do suites+=("$1"); shift; done
[ "${1:-}" != -- ] || shift
[ ${#suites[@]} -gt 0 ] || suites=(wow64 win32)
. "$root/scripts/wine-env.sh"
. "$root/scripts/suites.sh"
if ! kyr_native_32bit; then
    echo "i686-suites: this machine executes no 32-bit x86 code" >&2
    exit 1
fi
kyr_small_volume "$build/wine/small-volume"
status=0
for suite in "${suites[@]}"; do
    case $suite in
        wow64) kyr_run_suite wow64 "$build/i686" win64 1 "$prefixes/wow64" \
            "$build/wine/wow64-drive-q" "$@" ;;
        win32) kyr_run_suite win32 "$build/i686" win32 0 "$prefixes/win32" \
            "$build/wine/win32-drive-q" "$@" ;;
        *) echo "i686-suites: unknown suite $suite (wow64 or win32)" >&2; exit 2 ;;
    esac
done
exit $status
