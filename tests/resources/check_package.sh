#!/usr/bin/env bash
# Makes the zip package of a build in a scratch folder and checks that it holds exactly the
# given files, in any order:
#   check_package.sh CPACK CONFIG WORK_DIR ZIP_NAME FILE...
set -euo pipefail
cpack=$1 config=$2 work=$3 zip=$4
shift 4

rm -rf "$work"
mkdir -p "$work"
if ! "$cpack" -G ZIP --config "$config" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack could not make the package"
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
expected=$(printf '%s\n' "$@" | sort)
if [ "$actual" != "$expected" ]; then
    echo "FAIL: $zip holds other files than expected"
    diff <(echo "$expected") <(echo "$actual") | sed -n 's/^</missing:/p; s/^>/extra:  /p'
    exit 1
fi
echo "ok: $zip holds $(tr '\n' ' ' <<<"$actual")"
