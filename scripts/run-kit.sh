#!/usr/bin/env bash
# Runs a test kit (kyr-tools-<version>-<platform>-tests.zip) the way a Windows machine would:
# unpacked into a fresh folder whose path has blanks and parentheses, in a fresh Wine prefix,
# with nothing but `cmd /c run-tests.cmd`; then checks its exit code, its closing line and
# that every suite left its JUnit XML.
#
# Usage: scripts/run-kit.sh ZIP NAME LOADER [--cyrillic-temp] [--read-only] [SUITE...]
#   NAME            names the prefix and the log below $KYR_BUILD_DIR/wine/
#   LOADER          the Wine loader (wine64 for the x86-64 kit, wine for the i686 kit)
#   --cyrillic-temp %TEMP% and %TMP% point to a folder with Cyrillic letters
#   --read-only     the kit's folder is mounted read-only (needs root), so the results go
#                   below %TEMP%
#   SUITE...        only these suites (run-tests.cmd's arguments); default every suite
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/wine-env.sh"
build=${KYR_BUILD_DIR:-$root/build}
zip=$(realpath "$1") name=$2 loader=$3
shift 3
cyrillic=0 readonly=0 suites=()
for option in "$@"; do
    case $option in
        --cyrillic-temp) cyrillic=1 ;;
        --read-only) readonly=1 ;;
        -*) echo "run-kit: unknown option $option" >&2; exit 2 ;;
        *) suites+=("$option") ;;
    esac
done
kit=$(basename "$zip" .zip)
# Wine reads the command line and the registry values below as UTF-8.
export LC_ALL=C.UTF-8
# What scripts/test.sh prepares for ctest is not the kit's business: it prepares its own.
unset KYR_EXPECT_WOW64 KYR_DRIVE_ROOT KYR_SMALL_VOLUME

started=$SECONDS
prefix=$build/wine/kit-$name
mountpoint -q "$prefix/drive_c/Program Files (x86)/kyr tools kit" 2>/dev/null &&
    umount "$prefix/drive_c/Program Files (x86)/kyr tools kit"
rm -rf "$prefix"
kyr_wine_prefix win64 "$prefix" "$loader"
wine() { "$loader" "$@" </dev/null; }

# C:\Program Files (x86)\kyr tools kit\<kit>: blanks and parentheses, as on Windows.
folder="$WINEPREFIX/drive_c/Program Files (x86)/kyr tools kit"
mkdir -p "$folder"
cmake -E chdir "$folder" cmake -E tar xf "$zip"
[ -f "$folder/$kit/run-tests.cmd" ] || { echo "run-kit: $zip holds no $kit/run-tests.cmd" >&2; exit 1; }

user_temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
results="$folder/$kit/results"
if [ $cyrillic = 1 ]; then
    # "Временные файлы": a user name or a localised folder in %TEMP%.
    temp_name='Временные файлы'
    mkdir -p "$user_temp/$temp_name"
    for variable in TEMP TMP; do
        wine reg add 'HKCU\Environment' /v $variable /t REG_EXPAND_SZ \
            /d "%USERPROFILE%\\Temp\\$temp_name" /f >/dev/null 2>&1
    done
    user_temp="$user_temp/$temp_name"
    # Wine's own services started with reg, without a display: the kit's session starts anew
    # under Xvfb, or new consoles get no window.
    kyr_wine_stop
    wineserver -p 2>/dev/null || true
fi
if [ $readonly = 1 ]; then
    if ! mount --bind "$folder" "$folder" 2>/dev/null; then
        echo "note: could not mount the kit's folder read-only (needs root); it stays writable"
        readonly=0
    else
        trap 'umount "$folder" 2>/dev/null || true' EXIT
        mount -o remount,bind,ro "$folder"
        results="$user_temp/$kit"
    fi
fi
rm -rf "$results"

echo "kit: $kit in C:\\Program Files (x86)\\kyr tools kit$([ $readonly = 1 ] && echo ' (read-only)')" \
     "$([ $cyrillic = 1 ] && echo "with %TEMP% ...\\$temp_name")"
# Wine's own services start with the first program and would keep the output file open;
# start them first. A display for the console tests.
log=$build/wine/kit-$name.log
status=0
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$0" cmd /c exit >/dev/null 2>&1 </dev/null
    cd "$1" && exec "$0" cmd /c run-tests.cmd "${@:2}" </dev/null' \
    "$loader" "$folder/$kit" "${suites[@]}" >"$log" 2>&1 &
runner=$!
tail -n +1 -f --pid=$runner "$log" 2>/dev/null | tr -d '\r' || true
wait $runner || status=$?
kyr_wine_stop

closing=$(tr -d '\r' <"$log" | grep -E '^[0-9]+ passed, [0-9]+ failed' | tail -n 1 || true)
problems=()
[ $status = 0 ] || problems+=("run-tests.cmd ended with exit code $status")
[ -n "$closing" ] || problems+=("no closing line")
[ ${#suites[@]} -gt 0 ] ||
    read -r -a suites < <(tr -d '\r' <"$folder/$kit/run-tests.cmd" | sed -n 's/^set "SUITES=\(.*\)"$/\1/p')
for suite in "${suites[@]}"; do
    [ -s "$results/$suite.xml" ] || problems+=("no JUnit XML of $suite in $results")
done
echo "kit $name: ${closing:-no closing line}; exit code $status; $((SECONDS - started)) s"
if [ ${#problems[@]} -gt 0 ]; then
    printf 'kit %s: FAILED: %s\n' "$name" "${problems[@]}"
    exit 1
fi
