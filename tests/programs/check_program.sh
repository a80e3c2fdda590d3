#!/usr/bin/env bash
# Checks a built program's PE headers on the build machine:
#   check_program.sh OBJDUMP PROGRAM gui|console [machine]
# - the subsystem (GUI 2, console 3);
# - the machine ("i386" for the shipped 32-bit programs);
# - that it imports only KERNEL32, SHELL32, ADVAPI32 and msvcrt.
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

[ $fail -eq 0 ] && echo "ok: $program ($subsystem${machine:+, $machine}; imports: $(tr '\n' ' ' <<<"$imports"))"
exit $fail
