#!/usr/bin/env bash
# Checks on the build machine that no program or library of the test kit imports a function
# that Windows 7 SP1 lacks: a program that imports one does not start there at all, so none of
# its tests would run. Such a function must be looked up with GetProcAddress.
#   check_imports.sh OBJDUMP FILE-LIST      (FILE-LIST: one built file a line)
set -euo pipefail
objdump=$1 list=$2
# Windows 7 has these only with update KB2533623, or from Windows 8 on.
missing_on_7=(
    AddDllDirectory RemoveDllDirectory SetDefaultDllDirectories
    GetSystemTimePreciseAsFileTime CreateFile2 CopyFile2 GetCurrentThreadStackLimits
    GetOverlappedResultEx WaitOnAddress WakeByAddressSingle WakeByAddressAll
    PrefetchVirtualMemory SetThreadInformation GetProcessInformation
    SetThreadDescription GetThreadDescription GetTempPath2A GetTempPath2W
)
fail=0 count=0
while IFS= read -r file; do
    [ -n "$file" ] || continue
    count=$((count + 1))
    imports=$("$objdump" -p "$file" | awk '
        /DLL Name:/ { dll = $3 }
        dll != "" && NF >= 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print dll ":" $3 }')
    for name in "${missing_on_7[@]}"; do
        if grep -qiE "^kernel32\.dll:$name\$" <<<"$imports"; then
            echo "FAIL: $(basename "$file") imports $name, which Windows 7 SP1 lacks"
            fail=1
        fi
    done
done <"$list"
[ $count -gt 0 ] || { echo "FAIL: no files listed in $list"; exit 1; }
[ $fail = 0 ] && echo "OK: $count files of the test kit import nothing that Windows 7 SP1 lacks"
exit $fail
