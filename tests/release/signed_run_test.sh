#!/usr/bin/env bash
# The signed updater runs under Windows: this build's programs are packaged with a throwaway
# self-signed certificate, their signatures verified, and the packaged kyrUpdater.exe run with
# --check-updates in a temporary installation (exit code 0 with nothing staged, 1 with a staged
# file):
#   signed_run_test.sh WORK WINE ZIP_NAME -- CMAKE PACKAGING ARGUMENTS...
# The packaging command is the package target's; signing options are added to it.
set -euo pipefail
work=$1 wine=$2 zip=$3
shift 3
[ "${1:-}" = -- ] && shift
. "$(dirname "${BASH_SOURCE[0]}")/release_lib.sh"

if [ -z "${WINEPREFIX:-}" ]; then
    echo "skipped: WINEPREFIX is not set (scripts/test.sh sets up the Wine prefixes)"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work"
make_signer "$work/signer/other"
other_cert=$work/signer/other/signer.pem
make_signer "$work/signer"
cmake=$1
shift
run_logged "$work/package.log" "$cmake" -DKYR_SIGN_PKCS12="$work/signer/signer.p12" \
    -DKYR_SIGN_PASSWORD_FILE="$work/signer/signer.pass" \
    -DKYR_OSSLSIGNCODE="$(command -v osslsigncode)" "$@"
app=$work/app
mkdir -p "$app/logs"
run_logged "$work/unzip.log" unzip -q "$work/package/$zip" -d "$app"
for program in kyrUpdater.exe kyrServer.com; do
    verify_signature "$app/$program" "$work/signer/signer.pem"
done

check_updates() { # expected-exit-code what
    local code=0
    timeout 120 "$wine" "$app/kyrUpdater.exe" --check-updates >"$work/updater.out" 2>&1 || code=$?
    [ "$code" = "$1" ] || { cat "$work/updater.out"; fail "signed kyrUpdater.exe --check-updates $2: exit code $code, expected $1"; }
}
check_updates 0 "with nothing staged"
printf 'kyrCore 2.0' >"$app/~kyrCore.dll"
check_updates 1 "with a staged file"
ls "$app"/logs/kyrUpdater/*/*/*.log >/dev/null 2>&1 || fail "the signed updater wrote no log"

[ $failures -eq 0 ] || exit 1
[ -n "${KYR_KEEP_TEMP:-}" ] || rm -rf "$work"
echo "ok: the signed kyrUpdater.exe and kyrServer.com verify, and the updater runs"
