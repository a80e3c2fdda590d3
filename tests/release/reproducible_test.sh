#!/usr/bin/env bash
# Two clean builds of the shipped programs and their package, one after the other, from this
# source into two folders whose paths differ in length, give the same bytes:
#   reproducible_test.sh WORK SOURCE TOOLCHAIN ZIP_NAME
# kyrUpdater.exe, kyrServer.com, the zip and SHA256SUMS are compared byte for byte; the
# programs carry no link time and neither the source's nor the build's folder, and the zip holds
# the built programs unchanged (unsigned). The builds stay in WORK for the version and signing
# tests; the cleanup test removes them.
set -euo pipefail
work=$1 source=$2 toolchain=$3 zip=$4
. "$(dirname "${BASH_SOURCE[0]}")/release_lib.sh"

rm -rf "$work"
mkdir -p "$work"
build_a=$work/a
build_b=$work/a-second-build-in-a-folder-with-a-longer-path/b
programs=(bin/kyrUpdater.exe bin/kyrServer.com)

build() { # folder
    local start=$SECONDS
    mkdir -p "$1"
    run_logged "$1.configure.log" cmake -S "$source" -B "$1" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DKYR_BUILD_TESTS=OFF
    run_logged "$1.build.log" cmake --build "$1" --target package -j2
    echo "built the package in $1 ($((SECONDS - start)) s)"
}
build "$build_a"
build "$build_b"

for file in "${programs[@]}" "$zip" SHA256SUMS; do
    if [ ! -f "$build_a/$file" ] || [ ! -f "$build_b/$file" ]; then
        fail "$file was not made by both builds"
    elif ! cmp "$build_a/$file" "$build_b/$file"; then
        fail "$file differs between the two builds"
    fi
done

# The PE header's TimeDateStamp, at offset 8 of the header that the DOS header points to.
pe_time() {
    local header
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tu4 -j$((header + 8)) -N4 "$1" | tr -d ' '
}
for build in "$build_a" "$build_b"; do
    for program in "${programs[@]}"; do
        [ -f "$build/$program" ] || continue
        stamp=$(pe_time "$build/$program")
        [ "$stamp" = 0 ] || fail "$build/$program carries a link time ($stamp)"
        for folder in "$source" "$(realpath "$source")" "$work" "$(realpath "$work")"; do
            if grep -qaF "$folder" "$build/$program" ||
                strings -a -el "$build/$program" | grep -qF "$folder"; then
                fail "$build/$program holds the folder $folder"
            fi
        done
    done
done

# The zip holds the built programs as they are: unsigned without a certificate.
unpacked=$build_a/unpacked
rm -rf "$unpacked"
mkdir -p "$unpacked"
run_logged "$work/unzip.log" unzip -q "$build_a/$zip" -d "$unpacked"
for program in "${programs[@]}"; do
    cmp "$build_a/$program" "$unpacked/$(basename "$program")" ||
        fail "the packaged $(basename "$program") is not the built one"
done
cmp "$source/docs/OPERATORS.txt" "$unpacked/OPERATORS.txt" ||
    fail "the packaged OPERATORS.txt is not docs/OPERATORS.txt"
(cd "$build_a" && sha256sum -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS in $build_a"

[ $failures -eq 0 ] || exit 1
echo "ok: two builds gave the same ${programs[*]##*/}, $zip and SHA256SUMS"
echo "    $(cd "$build_a" && sha256sum "${programs[@]}" "$zip" | sed 's|bin/||' | tr '\n' ';' | sed 's/;$//; s/;/\n    /g')"
