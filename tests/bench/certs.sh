#!/bin/bash
# Makes the bench's certificates in <dir> with the openssl CLI: a test CA
# that the Wine prefix trusts, a "localhost" server certificate it signed,
# and an independent "untrusted" CA with a localhost certificate of its own.
# Generated at test time into the build tree only; keys never leave it.
# Usage: certs.sh <dir>     (keeps existing files while they stay valid a day)
set -euo pipefail
dir=${1:?usage: certs.sh <dir>}
mkdir -p "$dir"
cd "$dir"

# Everything comes from this file, so the host's openssl.cnf plays no part.
cat >openssl.cnf <<'EOF'
[req]
distinguished_name = dn
prompt = no
[dn]
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
EOF

valid() {
    local name
    for name in "$@"; do
        [ -s "$name" ] || return 1
    done
    openssl x509 -in "$2" -noout -checkend 86400 >/dev/null 2>&1 &&
        openssl x509 -in "$4" -noout -checkend 86400 >/dev/null 2>&1 &&
        openssl verify -CAfile "$2" "$4" >/dev/null 2>&1
}

# make_pair <prefix> <CA common name>: <prefix>ca.{key,pem,der} and
# <prefix>server.{key,pem}, the server certificate signed by that CA.
make_pair() {
    local prefix=$1 cn=$2
    if valid "${prefix}ca.key" "${prefix}ca.pem" "${prefix}server.key" "${prefix}server.pem"; then
        [ -s "${prefix}ca.der" ] || openssl x509 -in "${prefix}ca.pem" -outform DER -out "${prefix}ca.der"
        return 0
    fi
    (
        umask 077
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "${prefix}ca.key" 2>/dev/null
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "${prefix}server.key" 2>/dev/null
    )
    # Ten years for the CA, three for the server certificate, from now.
    openssl req -config openssl.cnf -new -x509 -sha256 -days 3650 -key "${prefix}ca.key" \
        -subj "/O=Pivra Bench/CN=$cn" -extensions ca_ext -set_serial "0x$(openssl rand -hex 8)" \
        -out "${prefix}ca.pem"
    openssl req -config openssl.cnf -new -sha256 -key "${prefix}server.key" \
        -subj "/O=Pivra Bench/CN=localhost" -out "${prefix}server.csr"
    openssl x509 -req -sha256 -days 1095 -in "${prefix}server.csr" -CA "${prefix}ca.pem" \
        -CAkey "${prefix}ca.key" -set_serial "0x$(openssl rand -hex 8)" \
        -extfile openssl.cnf -extensions server_ext -out "${prefix}server.pem" 2>/dev/null
    rm -f "${prefix}server.csr"
    openssl x509 -in "${prefix}ca.pem" -outform DER -out "${prefix}ca.der"
    openssl verify -CAfile "${prefix}ca.pem" "${prefix}server.pem" >/dev/null
}

make_pair "" "Pivra Bench Test CA"
make_pair "untrusted-" "Pivra Bench Untrusted CA"

# The two CAs must not vouch for each other's certificates.
if openssl verify -CAfile untrusted-ca.pem server.pem >/dev/null 2>&1 ||
    openssl verify -CAfile ca.pem untrusted-server.pem >/dev/null 2>&1; then
    echo "certs.sh: the untrusted CA is not independent" >&2
    exit 1
fi
