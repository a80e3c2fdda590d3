# Sourced by the scripts: Wine settings shared by the tests and the demo.
export WINEDEBUG=-all
# No Mono or Gecko installer prompts in new prefixes.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Whether this machine executes 32-bit x86 code natively (some virtual machines cannot;
# an emulated 32-bit Wine is far too slow to test with).
kyr_native_32bit() {
    [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# The Wine loader for a prefix architecture: win32 and WOW64 need the 32-bit loader.
kyr_wine_loader() {
    if [ "$1" = x64 ] && [ -x /usr/lib/wine/wine64 ]; then
        echo /usr/lib/wine/wine64
    else
        command -v wine
    fi
}

# kyr_wine_prefix ARCH DIR LOADER: makes sure DIR is an initialised Wine prefix of ARCH
# (win64 or win32), exports WINEPREFIX for it and starts a persistent wineserver.
kyr_wine_prefix() {
    local arch=$1 dir loader=$3
    dir=$(realpath -m "$2")
    export WINEPREFIX=$dir
    if [ ! -f "$dir/.kyr-ready" ]; then
        rm -rf "$dir"
        mkdir -p "$(dirname "$dir")"
        echo "wine: creating the $arch prefix in $dir"
        WINEARCH=$arch DISPLAY= "$loader" wineboot -i >/dev/null 2>&1 || true
        wineserver -w
        if [ ! -f "$dir/system.reg" ]; then
            echo "wine: could not create the prefix $dir" >&2
            return 1
        fi
        touch "$dir/.kyr-ready"
    fi
    wineserver -p 2>/dev/null || true
}

kyr_wine_stop() {
    wineserver -k 2>/dev/null || true
}
