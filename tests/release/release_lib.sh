# Shared by the release tests (sourced).

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run_logged LOG COMMAND...: runs the command with its output in LOG; shows the log and ends
# the test when it fails.
run_logged() {
    local log=$1
    shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "FAIL: $* (log: $log)"
        exit 1
    fi
}

# make_signer DIR: a throwaway self-signed code-signing certificate, as a release manager's
# would be: DIR/signer.p12 (certificate and key) whose password is the first line of
# DIR/signer.pass, and the certificate alone in DIR/signer.pem. Sets signer_password.
make_signer() {
    local dir=$1
    mkdir -p "$dir"
    chmod 700 "$dir"
    signer_password="kyr-test-$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')"
    (umask 077 && printf '%s\n' "$signer_password" >"$dir/signer.pass")
    run_logged "$dir/openssl.log" openssl req -x509 -newkey rsa:2048 -noenc -days 2 \
        -keyout "$dir/signer.key" -out "$dir/signer.pem" -subj "/CN=kyr-tools test signer" \
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning"
    # The password comes from its file, as osslsigncode reads it.
    run_logged "$dir/openssl-p12.log" openssl pkcs12 -export -inkey "$dir/signer.key" \
        -in "$dir/signer.pem" -out "$dir/signer.p12" -passout "file:$dir/signer.pass"
    rm -f "$dir/signer.key"
}

# verify_signature PROGRAM CERTIFICATE: the program carries a valid Authenticode signature
# (SHA-256) made with the certificate, and checking it against another certificate fails.
verify_signature() {
    local program=$1 cert=$2 output
    if ! output=$(osslsigncode verify -CAfile "$cert" -in "$program" 2>&1); then
        echo "$output" | tail -n 20
        fail "osslsigncode verify of $(basename "$program") against the test certificate"
        return
    fi
    grep -q "Signature verification: ok" <<<"$output" ||
        fail "$(basename "$program"): no \"Signature verification: ok\""
    grep -q "Subject: /CN=kyr-tools test signer" <<<"$output" ||
        fail "$(basename "$program"): not signed by the test signer"
    grep -qi "Message digest algorithm *: SHA256" <<<"$output" ||
        fail "$(basename "$program"): the signature's digest is not SHA-256"
    if [ -n "${other_cert:-}" ] &&
        osslsigncode verify -CAfile "$other_cert" -in "$program" >/dev/null 2>&1; then
        fail "$(basename "$program"): the signature also checks out against another certificate"
    fi
}
