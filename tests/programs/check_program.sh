#!/usr/bin/env bash
# Checks a built program's PE headers on the build machine:
#   check_program.sh OBJDUMP PROGRAM gui|console [machine]
# - the subsystem (GUI 2, console 3);
# - the machine ("i386" for the shipped 32-bit programs);
# - that it imports only KERNEL32, SHELL32, ADVAPI32 and msvcrt;
# - that it imports none of the C runtime's time functions that count seconds in 32 bits
#   (msvcrt's time, localtime, mktime, stat, utime, ... in a 32-bit program end in 2038).
set -euo pipefail
objdump=$1 program=$2 subsystem=$3 machine=${4:-}
headers=$("$objdump" -p "$program")
fail=0

case $subsystem in
    gui) want=2 ;;
    console) want=3 ;;
    *) echo "unknown subsystem $subsystem" >&2; exit 2 ;;
esac
got=$(awk '$1 == "Subsystem" { print $2 + 0 }' <<<"$headers")
if [ "$got" != "$want" ]; then
    echo "FAIL: $program: subsystem $got, expected $want ($subsystem)"
    fail=1
fi

if [ -n "$machine" ]; then
    format=$("$objdump" -f "$program" | awk '/file format/ { print $NF }')
    case $machine:$format in
        i386:pei-i386) ;;
        *) echo "FAIL: $program: file format $format, expected $machine"; fail=1 ;;
    esac
fi

imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | sort -uf)
if [ -z "$imports" ]; then
    echo "FAIL: $program: no import table found"
    fail=1
fi
while read -r dll; do
    [ -n "$dll" ] || continue
    case ${dll^^} in
        KERNEL32.DLL | SHELL32.DLL | ADVAPI32.DLL | MSVCRT.DLL) ;;
        *) echo "FAIL: $program imports $dll"; fail=1 ;;
    esac
done <<<"$imports"

# The functions of a DLL's import list: "<hint> <name>" rows below a "DLL Name" line.
time32=$(awk '/DLL Name:/ { dll = toupper($3) }
    dll == "MSVCRT.DLL" && NF == 3 && $2 ~ /^[0-9]+$/ { print $3 }' <<<"$headers" |
    grep -xE '_?(w?(time|localtime|gmtime|mktime|ctime|asctime|difftime|utime|futime|ftime|stat|fstat|findfirst|findnext)(32)?|_mkgmtime(32)?|_w?stati64|_fstati64)' || true)
if [ -n "$time32" ]; then
    echo "FAIL: $program imports 32-bit time functions: $(tr '\n' ' ' <<<"$time32")"
    fail=1
fi

[ $fail -eq 0 ] && echo "ok: $program ($subsystem${machine:+, $machine}; imports: $(tr '\n' ' ' <<<"$imports"))"
exit $fail
