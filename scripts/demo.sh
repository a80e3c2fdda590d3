#!/usr/bin/env bash
# The main job, for real: a sample installation is updated by kyrUpdater.exe and the server is
# launched by kyrServer.com, under Wine. Everything happens below build/demo (the work
# folder, with its own Wine prefix); nothing outside it is touched. Safe to run again.
# Usage: scripts/demo.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KYR_BUILD_DIR:-$root/build}
export KYR_BUILD_DIR=$build

echo "demo: checking the tools (scripts/setup.sh installs what is missing)"
bash "$root/scripts/setup.sh"
. "$root/scripts/wine-env.sh"
if kyr_native_32bit; then
    target=i686 arch=win64 loader=$(kyr_wine_loader wow64)
    what="the shipped 32-bit programs"
else
    target=x64 arch=win64 loader=$(kyr_wine_loader x64)
    what="the x86-64 build of the programs (this CPU does not execute 32-bit code)"
fi
# The programs and the stand-ins that play the server, its process and its core library.
echo "demo: building $what into $build/$target"
echo "      (the first time a few minutes: the tests are built too; a line per finished part)"
set +o pipefail
bash "$root/scripts/build.sh" "$target" 2>&1 | grep --line-buffered -E 'Built target| error: |Error [0-9]' |
    sed -u 's/^/      /'
build_status=${PIPESTATUS[0]}
set -o pipefail
if [ "$build_status" -ne 0 ]; then
    echo "demo: the build failed (run scripts/build.sh $target to see all of its output)" >&2
    exit 1
fi
bin=$build/$target/bin
for needed in kyrUpdater.exe kyrServer.com standinServer.exe standinProcess.exe \
    core_libraries/echo/kyrServer.dll; do
    if [ ! -f "$bin/$needed" ]; then
        echo "demo: $bin/$needed was not built" >&2
        exit 1
    fi
done

work=$build/demo
heading() { printf '\n== %s ==\n' "$*"; }
# Windows path of a path of this machine (Wine's drive Z: is the root of the file system).
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
# Shows each file below a folder with its size and, for the small text files, the content.
show_tree() {
    (cd "$1" && find . -type f ! -path './logs/*' | sort) | while IFS= read -r file; do
        local path=$1/${file#./} size
        size=$(stat -c %s "$path")
        if [ "$size" -lt 200 ] && LC_ALL=C grep -qv '[^[:print:][:space:]]' "$path" 2>/dev/null; then
            printf '  %-34s %8s bytes  "%s"\n' "${file#./}" "$size" "$(tr '\n' ' ' <"$path" | sed 's/ $//')"
        else
            printf '  %-34s %8s bytes\n' "${file#./}" "$size"
        fi
    done
}

heading "Wine prefix"
echo "demo: a Wine prefix of its own in $work/wine (the first time about a minute)"
if [ "$target" = x64 ]; then
    echo "This CPU does not execute 32-bit x86 code: the demo runs the x86-64 build of the same"
    if [ -d "$build/i686/bin" ]; then
        echo "sources (the shipped 32-bit programs are in $build/i686/bin)."
    else
        echo "sources (scripts/build.sh i686 builds the shipped 32-bit programs)."
    fi
fi
kyr_wine_prefix "$arch" "$work/wine" "$loader"
trap kyr_wine_stop EXIT
wine_run() { "$loader" "$@"; }

# --- The sample installation -----------------------------------------------------------
install=$work/install
rm -rf "$install"
app=$install/app
mkdir -p "$app/logs" "$app/ru" "$app/server/x86" "$app/server/x64"
cp "$bin/kyrUpdater.exe" "$bin/kyrServer.com" "$app/"
# The server program: kyrServer.exe, or kyrServer64.exe for a 32-bit updater on 64-bit
# Windows. The stand-in records how it was started.
cp "$bin/standinServer.exe" "$app/kyrServer.exe"
cp "$bin/standinServer.exe" "$app/kyrServer64.exe"
cp "$bin/standinProcess.exe" "$app/KYR.exe"
cp "$bin/core_libraries/echo/kyrServer.dll" "$app/server/x86/kyrServer.dll"
printf 'kyrCore 1.0' >"$app/kyrCore.dll"
printf 'kyrCore 0.9' >"$app/kyrCore.dll.old"
printf 'kyrShare 1.0 (moved to server\\x64)' >"$app/kyrShare.dll"
printf 'strings 1.0' >"$app/ru/strings.txt"
printf 'kyrShare 1.0' >"$app/server/x64/kyrShare.dll"

# --- The staged update, in all four directories ----------------------------------------
printf 'kyrCore 2.0' >"$app/~kyrCore.dll"
printf 'strings 2.0' >"$app/ru/~strings.txt"
printf 'kyrShare 2.0' >"$app/server/x64/~kyrShare.dll"
printf 'kyrLib 2.0 (new file)' >"$app/server/x86/~kyrLib.dll"
cp "$bin/core_libraries/echo/kyrServer.dll" "$app/server/x86/~kyrServer.dll"

heading "The installation before the update ($(winpath "$app"))"
show_tree "$app"

status=0
fail() { echo "demo: FAILED: $*"; status=1; }

heading "A process of the installation is running: KYR.exe, for 3 seconds"
wine_run "$app/KYR.exe" --for-ms=3000 &
process=$!
sleep 1

heading "kyrUpdater.exe, its lines as they come (standard output, code page 1251)"
set +e
wine_run "$app/kyrUpdater.exe" | while IFS= read -r line; do
    printf '  | %s\n' "$(printf '%s' "${line%$'\r'}" | iconv -f CP1251 -t UTF-8)"
done
updater_exit=${PIPESTATUS[0]}
set -e
wait "$process" || true
echo "kyrUpdater.exe exit code: $updater_exit"
[ "$updater_exit" -eq 0 ] || fail "the updater ended with $updater_exit"

heading "The installation after the update"
show_tree "$app"
for file in "~kyrCore.dll" "ru/~strings.txt" "server/x64/~kyrShare.dll" "server/x86/~kyrLib.dll" \
    "server/x86/~kyrServer.dll" "kyrCore.dll.old" "kyrShare.dll"; do
    [ ! -e "$app/$file" ] || fail "$file is still there"
done
[ "$(cat "$app/kyrCore.dll")" = "kyrCore 2.0" ] || fail "kyrCore.dll was not replaced"
[ "$(cat "$app/server/x86/kyrLib.dll")" = "kyrLib 2.0 (new file)" ] || fail "kyrLib.dll is missing"

heading "The update log"
log=$(find "$app/logs" -name '*.log' | sort | tail -n 1)
if [ -n "$log" ]; then
    echo "$(winpath "$log"):"
    sed 's/^/  | /' "$log"
else
    fail "no log file below $app/logs"
fi

heading "The server program's restart"
record=
for _ in $(seq 100); do
    for name in kyrServer.exe kyrServer64.exe; do
        [ -f "$app/$name.run.txt" ] && record=$app/$name.run.txt
    done
    [ -n "$record" ] && break
    sleep 0.1
done
if [ -n "$record" ]; then
    echo "$(basename "${record%.run.txt}") was started; it recorded:"
    sed 's/^/  | /' "$record"
    grep -q '^argument: /AfterUpdate$' "$record" || fail "the server did not get /AfterUpdate"
else
    fail "the server program was not started"
fi

heading "kyrServer.com starting the core library (server\\x86\\kyrServer.dll)"
echo "command: kyrServer.com --exit=3 \"two words\" Привет"
set +e
wine_run "$app/kyrServer.com" --exit=3 "two words" Привет
launch_exit=$?
set -e
echo "kyrServer.com exit code: $launch_exit (the core library's wmain returned 3)"
if [ -f "$app/server/x86/echo.txt" ]; then
    echo "The core library recorded:"
    sed 's/^/  | /' "$app/server/x86/echo.txt"
else
    fail "the core library's wmain did not run"
fi
[ "$launch_exit" -eq 3 ] || fail "kyrServer.com ended with $launch_exit, expected 3"

heading "A failed launch: kyrServer.com in a folder without the core library"
failed=$install/broken
mkdir -p "$failed"
cp "$bin/kyrServer.com" "$failed/"
set +e
wine_run "$failed/kyrServer.com" </dev/null | sed 's/\r$//; s/^/  | /'
failed_exit=${PIPESTATUS[0]}
set -e
echo "kyrServer.com exit code: $failed_exit"
[ "$failed_exit" -eq 1 ] || fail "the failed launch ended with $failed_exit, expected 1"

echo
if [ $status -eq 0 ]; then
    echo "demo: SUCCESS: the update was put in place, the server restarted, and the launcher"
    echo "      started the core library and reported a missing one (exit code 0)"
else
    echo "demo: see the FAILED lines above (exit code 1)"
fi
exit $status
