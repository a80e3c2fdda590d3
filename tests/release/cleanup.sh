#!/usr/bin/env bash
# Removes the release tests' builds, unless KYR_KEEP_TEMP is set:  cleanup.sh WORK
set -euo pipefail
if [ -n "${KYR_KEEP_TEMP:-}" ]; then
    echo "kept $1 (KYR_KEEP_TEMP)"
else
    rm -rf "$1"
    echo "removed $1"
fi
