#!/bin/bash
# Makes the bench's certificates in <dir>: a test CA that only the test
# prefix trusts with a certificate for localhost, and a second CA that no
# one trusts with another one. Keys never leave the build tree.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
make_ca() {  # <name>
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/CN=Pivra Bench $1 CA" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$1-ca.key" -out "$1-ca.crt" 2>/dev/null
    openssl x509 -in "$1-ca.crt" -outform DER -out "$1-ca.der"
}
make_server() {  # <ca name> <output name>
    openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" -keyout "$2.key" -out "$2.csr" 2>/dev/null
    printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
        "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost,IP:127.0.0.1" >"$2.ext"
    openssl x509 -req -in "$2.csr" -CA "$1-ca.crt" -CAkey "$1-ca.key" -CAcreateserial -days 825 -sha256 \
        -extfile "$2.ext" -out "$2.crt" 2>/dev/null
    rm -f "$2.csr" "$2.ext"
}
[ -f localhost.crt ] || { make_ca bench; make_server bench localhost; }
[ -f untrusted-localhost.crt ] || { make_ca stranger; make_server stranger untrusted-localhost; }
