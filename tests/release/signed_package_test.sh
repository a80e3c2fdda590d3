#!/usr/bin/env bash
# A signed package, built as a release manager builds one:
#   signed_package_test.sh BUILD SOURCE ZIP_NAME
# BUILD is one of the reproducibility test's builds; it is configured with a throwaway
# self-signed code-signing certificate (-DKYR_SIGN_PKCS12, -DKYR_SIGN_PASSWORD_FILE) and its
# package target run. Both packaged programs then carry an Authenticode signature (SHA-256)
# that osslsigncode verifies against that certificate; without the signature they are the
# built, reproducible programs byte for byte. The password is nowhere in the build folder nor
# in the build's printed commands, and a time-stamp server that cannot be reached fails the
# package instead of leaving it without a time stamp.
set -euo pipefail
build=$1 source=$2 zip=$3
. "$(dirname "${BASH_SOURCE[0]}")/release_lib.sh"

signer=$(dirname "$build")/signer
rm -rf "$signer"
make_signer "$signer/other"
other_cert=$signer/other/signer.pem
make_signer "$signer"

run_logged "$build.configure-signed.log" cmake -S "$source" -B "$build" \
    -DKYR_SIGN_PKCS12="$signer/signer.p12" -DKYR_SIGN_PASSWORD_FILE="$signer/signer.pass" \
    -DKYR_SIGN_TIMESTAMP_URL=
run_logged "$build.build-signed.log" cmake --build "$build" --target package --verbose
if grep -rqF "$signer_password" "$build" "$build".*.log; then
    fail "the certificate's password is in the build folder or its output: $(grep -rlF "$signer_password" "$build" "$build".*.log | tr '\n' ' ')"
fi
grep -q "KYR_SIGN_PASSWORD_FILE:FILEPATH=$signer/signer.pass" "$build/CMakeCache.txt" ||
    fail "the cache does not name the password file"

unpacked=$build/unpacked-signed
rm -rf "$unpacked"
run_logged "$build.unzip-signed.log" unzip -q "$build/$zip" -d "$unpacked"
for program in kyrUpdater.exe kyrServer.com; do
    verify_signature "$unpacked/$program" "$signer/signer.pem"
    run_logged "$build.unsign.log" osslsigncode remove-signature \
        -in "$unpacked/$program" -out "$unpacked/$program.unsigned"
    cmp "$unpacked/$program.unsigned" "$build/bin/$program" ||
        fail "$program without its signature is not the built program"
done
(cd "$build" && sha256sum -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS in $build"

# The time-stamp server is asked: one that does not answer (nothing listens on the local
# discard port) fails the package.
run_logged "$build.configure-timestamp.log" cmake -S "$source" -B "$build" \
    -DKYR_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/
if cmake --build "$build" --target package >"$build.build-timestamp.log" 2>&1; then
    fail "the package was made although the time-stamp server did not answer"
elif ! grep -q "signing kyr.* failed" "$build.build-timestamp.log" ||
    ! grep -qi "timestamp" "$build.build-timestamp.log"; then
    tail -n 20 "$build.build-timestamp.log"
    fail "a time-stamp server that did not answer failed the package without saying so"
fi

[ $failures -eq 0 ] || exit 1
echo "ok: $zip holds kyrUpdater.exe and kyrServer.com signed with the test certificate"
