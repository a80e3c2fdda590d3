#!/usr/bin/env bash
# The release's version is set when the build is configured:
#   version_test.sh BUILD SOURCE WINDRES PLATFORM
# BUILD is one of the reproducibility test's builds. A malformed -DKYR_VERSION stops the
# configuration with a clear message; a good one (x.y.z or x.y.z.w) names the package and is
# the fixed file and product version and the version strings of both packaged programs, read
# back with the resource compiler.
set -euo pipefail
build=$1 source=$2 windres=$3 platform=$4
. "$(dirname "${BASH_SOURCE[0]}")/release_lib.sh"

for bad in 2.7 2.7.1.x; do
    if output=$(cmake -S "$source" -B "$build" -DKYR_VERSION=$bad 2>&1); then
        fail "-DKYR_VERSION=$bad was accepted"
    elif ! grep -qF "KYR_VERSION \"$bad\" is not a version" <<<"$output"; then
        echo "$output" | tail -n 20
        fail "-DKYR_VERSION=$bad was refused without saying why"
    fi
done

# version | the numbers as the resource compiler writes them
for case in "3.4.5|3, 4, 5, 0" "2.7.1.42|2, 7, 1, 42"; do
    version=${case%%|*} numbers=${case#*|}
    zip=kyr-tools-$version-$platform.zip
    run_logged "$build.configure-$version.log" cmake -S "$source" -B "$build" -DKYR_VERSION=$version
    run_logged "$build.build-$version.log" cmake --build "$build" --target package -j2
    if [ ! -f "$build/$zip" ]; then
        fail "-DKYR_VERSION=$version did not make $zip"
        continue
    fi
    grep -q "  $zip\$" "$build/SHA256SUMS" || fail "SHA256SUMS does not list $zip"
    (cd "$build" && sha256sum -c SHA256SUMS >/dev/null) || fail "sha256sum -c SHA256SUMS in $build"
    unpacked=$build/unpacked-$version
    rm -rf "$unpacked"
    run_logged "$build.unzip-$version.log" unzip -q "$build/$zip" -d "$unpacked"
    for program in kyrUpdater.exe kyrServer.com; do
        resources=$("$windres" -i "$unpacked/$program" -O rc 2>&1) ||
            { fail "$windres could not read $program"; continue; }
        for expected in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" \
            "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\""; do
            grep -qxE " *${expected//./\\.}" <<<"$resources" ||
                fail "$program of $zip: no \"$expected\" in its version resource"
        done
    done
done

[ $failures -eq 0 ] || exit 1
echo "ok: malformed versions refused; 3.4.5 and 2.7.1.42 name the package and are both programs' versions"
