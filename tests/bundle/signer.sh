#!/bin/bash
# Makes a test code-signing key: a CA and a signer it issued, in <dir>
# (ca.pem and ca.der, signer.pem, signer.key), for osslsigncode sign and
# verify, and for the test prefix to trust (ca.der).
# Usage: signer.sh <dir> [<CA name>]
set -euo pipefail
pki=$1
ca_name=${2:-Pivra Bundle Test CA}
mkdir -p "$pki"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 3650 \
    -subj "/CN=$ca_name" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$pki/signer.key" -out "$pki/signer.csr" \
    -subj "/CN=Pivra Bundle Test Signer" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    >"$pki/signer.ext"
openssl x509 -req -in "$pki/signer.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
    -out "$pki/signer.pem" -days 3650 -extfile "$pki/signer.ext" 2>/dev/null
openssl x509 -in "$pki/ca.pem" -outform DER -out "$pki/ca.der"
