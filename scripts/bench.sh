#!/usr/bin/env bash
# Benchmarks of kyrUpdater and kyrServer.com: installs what is missing, builds, runs
# bench/runner.cpp's benchRunner under Wine and writes, into $KYR_BENCH_DIR/results:
#   latest.csv           the medians (and the program sizes)
#   latest.txt           the table as printed
#   time_per_file.png    time per staged file against N
#   BENCHMARKS.md        the figures with the date and the machine
# Usage: scripts/bench.sh [--short] [--write]
#   --short   a first look in about a minute: N = 10 and 100, one run each, 10 launcher
#             starts (too few runs for figures to compare; cannot be written)
#   --write   the tracked results instead: bench/results/ and docs/BENCHMARKS.md (the full
#             run only; on a quiet machine)
# The programs measured are the shipped i686 build, run under WOW64, where the CPU executes
# 32-bit code (scripts/wine-env.sh); else the x86-64 build of the sources, run by Wine's
# 64-bit loader. The report says which.
# Environment: KYR_BENCH_DIR (default build-bench) holds the x64 build, KYR_BENCH_DIR-i686
# the i686 build (CMakePresets.json's presets bench and bench-i686); the measured one also
# holds the Wine prefix. The sizes of both builds' programs are reported.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KYR_BENCH_DIR:-$root/build-bench}
build32=$build-i686
short=0 write=0
for argument in "$@"; do
    case $argument in
        --short) short=1 ;;
        --write) write=1 ;;
        *) echo "usage: scripts/bench.sh [--short] [--write]" >&2; exit 2 ;;
    esac
done
if [ $short -eq 1 ] && [ $write -eq 1 ]; then
    echo "bench: --short results are too thin to replace the tracked ones; --write needs the full run" >&2
    exit 2
fi
if [ $write -eq 1 ]; then
    results=$root/bench/results doc=$root/docs/BENCHMARKS.md
else
    results=$build/results doc=$build/results/BENCHMARKS.md
fi
runner_options=()
[ $short -eq 0 ] || runner_options=(--sizes 10,100 --repetitions 1 --launches 10)

bash "$root/scripts/setup.sh"
if ! command -v gnuplot >/dev/null 2>&1; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "bench: gnuplot is missing; run this script as root to install it" >&2
        exit 1
    fi
    echo "bench: installing gnuplot"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends gnuplot-nox ||
        { apt-get update -q && DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-install-recommends gnuplot-nox; }
fi

. "$root/scripts/wine-env.sh"
# The measured build gets the bench programs; the other one only the two programs, for their
# sizes. -B keeps $KYR_BENCH_DIR, which a preset cannot default.
if kyr_native_32bit; then
    measured=$build32 other=$build
    measured_preset=bench-i686 other_preset=bench
    wine=$(kyr_wine_loader wow64)
else
    measured=$build other=$build32
    measured_preset=bench other_preset=bench-i686
    wine=$(kyr_wine_loader x64)
fi
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2
(cd "$root" && cmake --preset "$measured_preset" -B "$measured" >/dev/null)
cmake --build "$measured" -j"$jobs" --target benchRunner
(cd "$root" && cmake --preset "$other_preset" -B "$other" >/dev/null)
cmake --build "$other" -j"$jobs" --target kyrUpdater kyrServer

kyr_wine_prefix win64 "$measured/wine" "$wine"
trap kyr_wine_stop EXIT
"$wine" cmd /c exit >/dev/null 2>&1 </dev/null || true

mkdir -p "$results"
csv=$results/latest.csv
work=()
# Installations on a memory file system show the programs' own costs; one size is then
# measured again on the disk that holds the prefix, where every log line's flush is real.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    work=(--work 'Z:\dev\shm')
    [ $short -eq 1 ] || work+=(--disk 100)
fi
started=$(date +%s)
# Wine maps the root of the Linux file system to drive Z:.
csv_windows="Z:${csv//\//\\}"
"$wine" "$measured/bin/benchRunner.exe" --csv "$csv_windows" "${work[@]}" "${runner_options[@]}" |
    tr -d '\r' | tee "$results/latest.txt"
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "bench: benchRunner failed" >&2; exit 1; }
tr -d '\r' <"$csv" >"$csv.tmp" && mv "$csv.tmp" "$csv"

# Program sizes: the shipped 32-bit build and the x86-64 build.
{
    echo
    echo "Program sizes (bytes, as built)"
} | tee -a "$results/latest.txt"
for entry in "i686:$build32" "x64:$build"; do
    arch=${entry%%:*}
    dir=${entry#*:}
    for program in kyrUpdater.exe kyrServer.com; do
        size=$(stat -c %s "$dir/bin/$program")
        echo "size,$arch/$program,$size,,,bytes" >>"$csv"
        printf '  %-5s %-15s %9d\n' "$arch" "$program" "$size" | tee -a "$results/latest.txt"
    done
done
echo "bench: measured in $(($(date +%s) - started)) s"

# Time per file against N.
plot_data=$(mktemp)
awk -F, '$1 == "per_file" { print $2, $3, $4 }' "$csv" >"$plot_data"
gnuplot <<EOF
set terminal png size 800,500
set output '$results/time_per_file.png'
set logscale x
set xrange [5:20000]
set yrange [0:*]
set xlabel 'staged files N'
set ylabel 'ms per staged file'
set title 'kyrUpdater against a baseline of the same file operations and log lines'
set key top left
set grid
plot '$plot_data' using 1:2 with linespoints lw 2 pt 7 title 'kyrUpdater', \\
     '$plot_data' using 1:3 with linespoints lw 2 pt 5 title 'baseline'
EOF
rm -f "$plot_data"

# docs/BENCHMARKS.md from the results.
value() { awk -F, -v m="$1" -v c="$2" -v f="$3" '$1 == m && $2 == c { print $f }' "$csv"; }
fmt() { [ -n "$2" ] && printf "%.${1}f" "$2" || printf 'n/a'; }
per_file_rows=$(awk -F, '$1 == "per_file" {
    printf "| %s | %.4f | %.4f | %.2f |\n", $2, $3, $4, $5 }' "$csv")
whole_rows=$(awk -F, '$1 == "whole_run" {
    printf "| %s | %.1f | %.1f |\n", $2, $3, $4 }' "$csv")
size_rows=$(awk -F, '$1 == "size" { split($2, p, "/");
    printf "| %s | %s | %d |\n", p[2], p[1], $3 }' "$csv")
disk_n=$(awk -F, '$1 == "per_file_disk" { print $2 }' "$csv")
cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
wine_version=$("$wine" --version 2>/dev/null || echo unknown)
measured_build=$(value programs i686 2)
[ -n "$measured_build" ] || measured_build=x86-64
if [ "$measured_build" = i686 ]; then
    what_runs="The shipped programs are 32-bit x86, and this machine's CPU executes 32-bit
code: every figure here is of the **shipped i686 build, run under WOW64** (Wine's loader in a
64-bit prefix)."
else
    what_runs="The shipped programs are 32-bit x86; this machine's CPU cannot execute 32-bit
code, so every figure here is of the **x86-64 build of the same sources, run by Wine's 64-bit
loader** (\`/usr/lib/wine/wine64\`) in a 64-bit prefix."
fi
ratio_max=$(awk -F, '$1 == "per_file" && $5 > m { m = $5 } END { printf "%.2f", m }' "$csv")
launch_ms=$(value launcher start_to_end 3)
bare_ms=$(value launcher start_to_end 4)
crt_ms=$(value launcher bare_plus_ucrtbase 3)
core_ms=$(value launcher bare_plus_ucrtbase_core 3)
own_ms=$(awk -v l="$launch_ms" -v c="$core_ms" 'BEGIN { printf "%.2f", l - c }')
own_ratio=$(awk -v l="$launch_ms" -v c="$core_ms" -v b="$bare_ms" \
    'BEGIN { printf "%.3f", (l - c + b) / b }')
crt_share=$(awk -v x="$crt_ms" -v b="$bare_ms" -v l="$launch_ms" \
    'BEGIN { printf "%.0f", 100 * (x - b) / (l - b) }')
core_share=$(awk -v x="$core_ms" -v c="$crt_ms" -v b="$bare_ms" -v l="$launch_ms" \
    'BEGIN { printf "%.0f", 100 * (x - c) / (l - b) }')
own_share=$(awk -v x="$core_ms" -v b="$bare_ms" -v l="$launch_ms" \
    'BEGIN { printf "%.0f", 100 * (l - x) / (l - b) }')

cat >"$doc" <<EOF
# Benchmarks

\`bash scripts/bench.sh --write\` (as root on Debian 12; it runs \`scripts/setup.sh\`, installs
gnuplot when missing, builds into \`build-bench/\` and \`build-bench-i686/\`) measures both programs
and rewrites this file, \`bench/results/latest.csv\`, \`bench/results/latest.txt\` and the plot
below. It takes a few minutes. Without \`--write\` the same goes to \`build-bench/results/\`;
\`--short\` is a first look in about a minute. The benchmarks are not part of the test suite.

**What runs.** $what_runs Wine makes every system call dearer
than Windows does; the ratios against the baselines, measured in the same run, are the figures
to compare.

Measured on $(date -u +%Y-%m-%d) on: ${cpu:-unknown CPU}, $(nproc) cores, ${wine_version},
Linux $(uname -r). Installations on a memory file system (/dev/shm) unless said otherwise.

## Updater: time per staged file

N staged files spread over A, A\\ru, A\\server\\x64 and A\\server\\x86; half of them replace
an installed file that also has an old copy, half are new. Their names belong to no stop group
that a running process matches, so the wait finds nothing; the stand-in server is started
at the end. The **baseline** (\`bench/baseline.cpp\`) makes the same file-system calls as the
updater (the \`FindFirstFileW\` listings, the \`GetFileAttributesW\` tests, \`MoveFileExW\`,
\`DeleteFileW\`) and writes the same lines to standard output and to a log file flushed after
every line, and nothing else. Time per file is the file work of a run (from the last start
line to the wait's first line: guard and scan; from the wait's last line to the server start
line: replacement and cleanup), read from the arrival of the program's output lines on the
bench's clock, divided by N; the median of 5 runs (3 at N = 1000, 2 at N = 10000), each in
a fresh installation.

| N | updater ms/file | baseline ms/file | ratio |
|---|---|---|---|
$per_file_rows

Scaling ratio (updater ms/file at N = 10000 over N = 100):
**$(fmt 2 "$(value scaling 10000/100 3)")** (target at most 1.2). Largest updater/baseline
ratio: **$ratio_max** (target at most 1.2). Under Wine the baseline's own calls also grow with
the folder's size: the baseline's growth over the same sizes in this run is
$(fmt 2 "$(value scaling_against_baseline 10000/100 4)"), so the updater's growth against the
baseline's is **$(fmt 2 "$(value scaling_against_baseline 10000/100 5)")**.

![time per staged file against N](../bench/results/time_per_file.png)

Whole runs, process start to end (ms; the updater also opens its log in a new folder,
takes its guard, lists the processes and starts the server through the shell):

| N | updater | baseline |
|---|---|---|
$whole_rows

On the disk that holds the Wine prefix (ext4), N = ${disk_n:-n/a}: updater
$(fmt 4 "$(value per_file_disk "$disk_n" 3)") ms/file, baseline
$(fmt 4 "$(value per_file_disk "$disk_n" 4)") ms/file (ratio
$(fmt 2 "$(value per_file_disk "$disk_n" 5)")); the baseline writing each log line in three
parts as the updater does (time stamp, text, line feed):
$(fmt 4 "$(value per_file_disk_split_log_writes "$disk_n" 4)") ms/file. The disk figures move
with whatever else the machine does; the flush per line is the larger part of a file's cost
there.

## Updater: from the last process's end to the first rename

A stand-in process copied as KYR.exe runs while one staged \`~kyrCore.dll\` waits; once the
updater reports that it waits, the bench sets the process's event and notes when the process
has ended. Median of 5:

- bench clock (end of the process seen by the bench, to the arrival of the first "Rename"
  line): **$(fmt 2 "$(value wait_latency bench_clock 3)") ms** (target under 50 ms);
- the log's time stamp of the first "Rename" line against the process's exit time from
  \`GetProcessTimes\` (1 ms steps): $(fmt 0 "$(value wait_latency log_stamps 3)") ms.

## Updater: memory

Peak working set (\`GetProcessMemoryInfo\`, \`PeakWorkingSetSize\`, read while the updater
runs and after its end): N = 10: **$(fmt 2 "$(value peak_working_set 10 3)") MiB**, N = 10000:
**$(fmt 2 "$(value peak_working_set 10000 3)") MiB**. Under Wine this includes Wine's own
libraries mapped into the process.

## Launcher: start

Start to end of \`kyrServer.com\` with a core library (\`bench/core_library.cpp\`) in
server\\x86 whose \`wmain\` returns at once, against a program that does nothing
(\`bench/bare.cpp\`), started the same way (\`CreateProcessW\`, standard handles on NUL) in
turns, median of 40 after 3 rounds of warm-up. Two probes (\`bench/load_probe.cpp\`) split
the difference: the bare program loading ucrtbase.dll as the launcher does, and then also
loading the core library and calling its \`wmain\`.

| program | ms |
|---|---|
| bare program | $(fmt 2 "$bare_ms") |
| bare + LoadLibraryExW(ucrtbase.dll) | $(fmt 2 "$crt_ms") |
| bare + ucrtbase.dll + kyrServer.dll, wmain called | $(fmt 2 "$core_ms") |
| kyrServer.com + kyrServer.dll | $(fmt 2 "$launch_ms") |

kyrServer.com over the bare program: ratio **$(fmt 3 "$(value launcher start_to_end 5)")**,
difference **$(fmt 2 "$(value launcher difference 3)") ms** (target ratio at most 1.1). Of the
difference, loading ucrtbase.dll takes ${crt_share} % and loading the core library and
calling it ${core_share} %: both are what the launcher is for. The launcher's own remainder
is ${own_ms} ms (${own_share} %), a ratio of ${own_ratio} over the bare program.

## Program sizes

| program | build | bytes |
|---|---|---|
$size_rows

## Findings

$(cat "$root/bench/findings.md")
EOF
echo "bench: wrote $csv, $results/time_per_file.png and $doc"
if [ $write -eq 0 ]; then
    echo "bench: the tracked results (bench/results, docs/BENCHMARKS.md) are unchanged;" \
        "scripts/bench.sh --write replaces them"
fi
