# Sourced by scripts/test.sh and scripts/vm32/i686-suites.sh (after wine-env.sh): one suite
# of a build in a Wine prefix, as every run of the tests prepares it.

# A tiny volume that a test fills up, to show that a log that cannot be written switches off
# instead of failing the update. Mounting needs root; without it that test skips.
kyr_small_volume() { # folder
    local volume=$1
    mkdir -p "$volume"
    if mountpoint -q "$volume" || mount -t tmpfs -o size=8m kyr-small-volume "$volume" 2>/dev/null
    then
        trap 'umount "'"$volume"'" 2>/dev/null || true' EXIT
        export KYR_SMALL_VOLUME="Z:${volume//\//\\}"
    else
        echo "note: could not mount a small tmpfs volume; the full-volume log test will skip"
    fi
}

# kyr_run_suite NAME BUILD-DIR PREFIX-ARCH EXPECT-WOW64 PREFIX DRIVE-Q [ctest args]: the suite
# of BUILD-DIR in the prefix (made when missing), with its wall time. A failure sets status=1.
kyr_run_suite() {
    local name=$1 dir=$2 arch=$3 wow64=$4 prefix=$5 drive=$6 started
    shift 6
    echo "=== $name ==="
    started=$(date +%s)
    kyr_wine_prefix "$arch" "$prefix" "$(kyr_wine_loader "$name")" || { status=1; return; }
    export KYR_EXPECT_WOW64=$wow64
    # A drive letter of the prefix mapped to a folder of its own, for a launcher that lies in
    # the root of a drive.
    rm -rf "$drive" && mkdir -p "$drive"
    if [ "$(readlink "$WINEPREFIX/dosdevices/q:" 2>/dev/null)" != "$drive" ]; then
        ln -sfn "$drive" "$WINEPREFIX/dosdevices/q:"
        # The running server knows only the drives it started with.
        kyr_wine_stop
        wineserver -p 2>/dev/null || true
    fi
    export KYR_DRIVE_ROOT='Q:\'
    # The host checks ran before, once.
    # A display for the console tests of the launcher. Wine's own services start with the
    # first program of a session and would inherit ctest's output pipes: start them first.
    if ! xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$0" cmd /c exit >/dev/null 2>&1 </dev/null
        exec ctest --test-dir "$1" --output-on-failure -j2 -LE host "${@:2}"' \
        "$(kyr_wine_loader "$name")" "$dir" "$@"; then
        status=1
    fi
    kyr_wine_stop
    echo "=== $name: $(($(date +%s) - started)) s ==="
}
