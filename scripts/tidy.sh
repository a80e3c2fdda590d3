#!/usr/bin/env bash
# clang-tidy (.clang-tidy) over the programs' sources, updater/ and launcher/, as the i686
# build compiles them (its compile_commands.json); every finding is an error. First, the same
# sources and their headers must stand as clang-format (.clang-format) lays them out, includes
# sorted.
# Run scripts/build.sh i686 first. Usage: scripts/tidy.sh [source files...]
# clang reads the MinGW code as that target with GCC's and MinGW's own include folders.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KYR_BUILD_DIR:-$root/build}/i686
tidy=clang-tidy-14
compiler=i686-w64-mingw32-g++-posix
if [ ! -f "$build/compile_commands.json" ]; then
    echo "tidy: no $build/compile_commands.json; run scripts/build.sh i686 first" >&2
    exit 2
fi

args=(--extra-arg=--target=i686-w64-mingw32 --extra-arg=-nostdinc++ --extra-arg=-nostdinc)
while read -r dir; do
    args+=("--extra-arg=-isystem$(realpath "$dir")")
done < <("$compiler" -xc++ -E -v - </dev/null 2>&1 |
    sed -n '/^#include <...> search starts here:/,/^End of search list/{/^ /p}')

files=()
if [ $# -gt 0 ]; then
    for file in "$@"; do files+=("$(realpath "$file")"); done
else
    mapfile -t files < <(find "$root/updater" "$root/launcher" -name '*.cpp' | sort)
fi
for file in "${files[@]}"; do
    if ! grep -qF "\"file\": \"$file\"" "$build/compile_commands.json"; then
        echo "tidy: $file is not in $build/compile_commands.json" >&2
        exit 2
    fi
done

format=$(command -v clang-format-14 || command -v clang-format || true)
[ -n "$format" ] || { echo "tidy: clang-format is missing (scripts/setup.sh installs it)" >&2; exit 2; }
mapfile -t formatted < <(find "$root/updater" "$root/launcher" -name '*.cpp' -o -name '*.h' | sort)
"$format" --dry-run --Werror "${formatted[@]}" ||
    { echo "tidy: not laid out as .clang-format says (run $format -i on the files above)" >&2; exit 1; }

# Two files at a time (the machine's cores are shared); each file's findings in one piece.
started=$(date +%s)
printf '%s\0' "${files[@]}" |
    xargs -0 -P2 -n1 sh -c 'out=$("$@" 2>&1) || { printf "%s\n" "$out"; exit 1; }' tidy \
        "$tidy" -p "$build" --quiet --warnings-as-errors='*' "${args[@]}" ||
    { echo "tidy: findings in the programs' code (see above)" >&2; exit 1; }
echo "tidy: clean, ${#files[@]} source files in $(($(date +%s) - started)) s"
