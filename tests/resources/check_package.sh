#!/usr/bin/env bash
# Makes the zip package of a build in a scratch folder and checks that it holds exactly the
# given files, in any order, and that SHA256SUMS beside it checks out:
#   check_package.sh WORK_DIR ZIP_NAME FILE... -- PACKAGING COMMAND...
# The packaging command writes WORK_DIR/ZIP_NAME and WORK_DIR/SHA256SUMS.
set -euo pipefail
work=$1 zip=$2
shift 2
expected_files=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    expected_files+=("$1")
    shift
done
[ $# -gt 1 ] || { echo "usage: check_package.sh WORK_DIR ZIP_NAME FILE... -- COMMAND..." >&2; exit 2; }
shift

rm -rf "$work"
mkdir -p "$work"
if ! "$@" >"$work/package.log" 2>&1; then
    cat "$work/package.log"
    echo "FAIL: the package could not be made"
    exit 1
fi
if [ ! -f "$work/$zip" ]; then
    echo "FAIL: $zip not made; the folder holds:"
    ls -1 "$work"
    exit 1
fi

if command -v unzip >/dev/null; then
    listing=$(unzip -Z1 "$work/$zip")
else
    listing=$(cmake -E tar tf "$work/$zip")
fi
actual=$(sort <<<"$listing")
expected=$(printf '%s\n' "${expected_files[@]}" | sort)
if [ "$actual" != "$expected" ]; then
    echo "FAIL: $zip holds other files than expected"
    diff <(echo "$expected") <(echo "$actual") | sed -n 's/^</missing:/p; s/^>/extra:  /p'
    exit 1
fi
if [ "$(cat "$work/SHA256SUMS")" != "$(cd "$work" && sha256sum "$zip")" ]; then
    echo "FAIL: SHA256SUMS is not the one line for $zip:"
    cat "$work/SHA256SUMS"
    exit 1
fi
if ! (cd "$work" && sha256sum -c SHA256SUMS); then
    echo "FAIL: sha256sum -c SHA256SUMS"
    exit 1
fi
# Text files ship with Windows line ends: Notepad before Windows 10 1809 shows a file of bare
# line feeds as one line.
for name in $listing; do
    case $name in *.txt) ;; *) continue ;; esac
    bare=$(unzip -p "$work/$zip" "$name" | LC_ALL=C grep -c -v $'\r$' || true)
    if [ "$bare" != 0 ]; then
        echo "FAIL: $name in $zip has $bare lines that do not end in CR LF"
        exit 1
    fi
done
echo "ok: $zip holds $(tr '\n' ' ' <<<"$actual")and SHA256SUMS checks it"
