#!/bin/bash
# Tests of pivra-bundle, run on the build machine, one case per CTest test.
# Usage: bundle_test.sh <case> <pivra-bundle> <bundle_check> <launcher.exe> <suite.zip> <work dir>
set -euo pipefail
case_name=$1 tool=$2 checker=$3 built_launcher=$4 suite_zip=$5 work=$6
here=$(cd "$(dirname "$0")" && pwd)
pe_tool="/usr/bin/python3 $here/pe_tool.py"

rm -rf "$work"
mkdir -p "$work/in" "$work/out"
launcher=$work/in/launcher.exe
archive=$work/in/suite.zip
cp "$built_launcher" "$launcher"
cp "$suite_zip" "$archive"

fail() {
    echo "FAIL ($case_name): $*" >&2
    exit 1
}

# Runs the tool; its exit code in $rc, its output in $work/stdout, $work/stderr.
run() {
    rc=0
    "$tool" "$@" >"$work/stdout" 2>"$work/stderr" || rc=$?
}

leftovers() {
    find "$work" -name '*.partial' | grep -q . && fail "a temp file was left: $(find "$work" -name '*.partial')"
    return 0
}

# refuse <exit code> <message part> <arguments...>: the tool refuses with that
# code and message, leaves no output and no temp file, and leaves an output
# that was there before untouched.
refuse() {
    local want_rc=$1 want_message=$2
    shift 2
    local output=${*: -1}
    rm -f "$output"
    run "$@"
    [ "$rc" = "$want_rc" ] || fail "exit code $rc, expected $want_rc; stderr: $(cat "$work/stderr")"
    grep -qF -- "$want_message" "$work/stderr" || fail "stderr lacks '$want_message': $(cat "$work/stderr")"
    [ ! -s "$work/stdout" ] || fail "a refusal printed to stdout: $(cat "$work/stdout")"
    [ ! -e "$output" ] || fail "an output file was left at $output"
    leftovers
    if [ -d "$(dirname "$output")" ]; then
        echo "an older output" >"$output"
        run "$@"
        [ "$rc" = "$want_rc" ] || fail "with an older output: exit code $rc, expected $want_rc"
        [ "$(cat "$output")" = "an older output" ] || fail "the older output was changed"
        rm -f "$output"
        leftovers
    fi
    echo "refused with $want_rc: $(cat "$work/stderr")"
}

# refuse_in_place <exit code> <message part> <input that is the output> <arguments...>
refuse_in_place() {
    local want_rc=$1 want_message=$2 input=$3
    shift 3
    local before
    before=$(sha256sum <"$input")
    run "$@"
    [ "$rc" = "$want_rc" ] || fail "exit code $rc, expected $want_rc; stderr: $(cat "$work/stderr")"
    grep -qF -- "$want_message" "$work/stderr" || fail "stderr lacks '$want_message': $(cat "$work/stderr")"
    [ "$(sha256sum <"$input")" = "$before" ] || fail "the input $input was changed"
    leftovers
    echo "refused with $want_rc: $(cat "$work/stderr")"
}

random_file() {  # random_file <path> <bytes>
    head -c "$2" /dev/urandom >"$1"
}

# The last 16 bytes: "PIVRAZIP" and the archive length, little-endian.
expect_trailer() {  # expect_trailer <file> <archive length>
    local magic length
    magic=$(tail -c 16 "$1" | head -c 8)
    length=$(tail -c 8 "$1" | od -An -t u8 | tr -d ' ')
    [ "$magic" = PIVRAZIP ] || fail "$1 does not end in the magic: '$magic'"
    [ "$length" = "$2" ] || fail "$1's trailer says $length, expected $2"
}

make_signer() {
    bash "$here/signer.sh" "$work/pki"
}

sign() {  # sign <in> <out>; osslsigncode overwrites no file
    rm -f "$2"
    osslsigncode sign -certs "$work/pki/signer.pem" -key "$work/pki/signer.key" -h sha256 \
        -n "Pivra Suite Messaging" -in "$1" -out "$2" >"$work/sign.log" 2>&1 ||
        fail "osslsigncode sign failed: $(cat "$work/sign.log")"
}

# verify <file>: osslsigncode verify's output in $work/verify.log, its code in $vrc.
verify() {
    vrc=0
    osslsigncode verify -CAfile "$work/pki/ca.pem" -in "$1" >"$work/verify.log" 2>&1 || vrc=$?
}

expect_verified() {
    verify "$1"
    [ "$vrc" = 0 ] && grep -qx Succeeded "$work/verify.log" ||
        fail "osslsigncode verify did not succeed on $1 (code $vrc): $(cat "$work/verify.log")"
    grep -qi "invalid PE checksum" "$work/verify.log" && fail "osslsigncode finds the PE checksum wrong in $1"
    grep -E "PE checksum|Succeeded" "$work/verify.log"
}

case "$case_name" in
RefusesWrongArgumentCount)
    run
    [ "$rc" = 2 ] && grep -q "expected 3 arguments, got 0" "$work/stderr" || fail "no arguments: $rc"
    run "$launcher" "$archive"
    [ "$rc" = 2 ] && grep -q "usage: pivra-bundle" "$work/stderr" || fail "two arguments: $rc"
    refuse 2 "expected 3 arguments, got 4" "$launcher" "$archive" "$work/out/extra" "$work/out/bundled.exe"
    ;;
RefusesMissingLauncher)
    refuse 3 "cannot read the launcher '$work/in/none.exe': does not exist" \
        "$work/in/none.exe" "$archive" "$work/out/bundled.exe"
    ;;
RefusesLauncherFolder)
    refuse 3 "cannot read the launcher '$work/in': is not a regular file" "$work/in" "$archive" "$work/out/bundled.exe"
    ;;
RefusesMissingArchive)
    refuse 4 "cannot read the archive '$work/in/none.zip': does not exist" \
        "$launcher" "$work/in/none.zip" "$work/out/bundled.exe"
    ;;
RefusesArchiveFolder)
    refuse 4 "cannot read the archive '$work/in': is not a regular file" "$launcher" "$work/in" "$work/out/bundled.exe"
    ;;
RefusesEmptyArchive)
    : >"$work/in/empty.zip"
    refuse 5 "the archive '$work/in/empty.zip' is empty" "$launcher" "$work/in/empty.zip" "$work/out/bundled.exe"
    ;;
RefusesBundledLauncher)
    run "$launcher" "$archive" "$work/in/bundled.exe"
    [ "$rc" = 0 ] || fail "the first bundling failed: $(cat "$work/stderr")"
    refuse 6 "already carries an archive of $(stat -c %s "$archive") bytes" \
        "$work/in/bundled.exe" "$archive" "$work/out/twice.exe"
    # Bundled and signed: the archive sits before the certificate table.
    make_signer
    sign "$work/in/bundled.exe" "$work/in/bundled-signed.exe"
    refuse 6 "already carries an archive of $(stat -c %s "$archive") bytes" \
        "$work/in/bundled-signed.exe" "$archive" "$work/out/twice.exe"
    ;;
RefusesOutputEqualToAnInput)
    refuse_in_place 7 "is one of the inputs" "$launcher" "$launcher" "$archive" "$launcher"
    refuse_in_place 7 "is one of the inputs" "$archive" "$launcher" "$archive" "$archive"
    refuse_in_place 7 "is one of the inputs" "$launcher" "$launcher" "$archive" "$work/in/../in/./launcher.exe"
    (cd "$work/in" && refuse_in_place 7 "is one of the inputs" launcher.exe launcher.exe suite.zip ./launcher.exe)
    ln "$launcher" "$work/out/hard-link.exe"
    refuse_in_place 7 "is one of the inputs" "$launcher" "$launcher" "$archive" "$work/out/hard-link.exe"
    ln -s "$archive" "$work/out/symbolic-link.zip"
    refuse_in_place 7 "is one of the inputs" "$archive" "$launcher" "$archive" "$work/out/symbolic-link.zip"
    ;;
RefusesTextFileLauncher)
    echo "not a program" >"$work/in/text.exe"
    refuse 8 "the launcher '$work/in/text.exe' is not a PE file: no MZ header" \
        "$work/in/text.exe" "$archive" "$work/out/bundled.exe"
    ;;
RefusesMzWithoutPe)
    # An MS-DOS header whose e_lfanew points at something other than "PE\0\0".
    head -c 1024 "$launcher" >"$work/in/dos.exe"
    printf 'NE\0\0' | dd of="$work/in/dos.exe" bs=1 seek=$((0x80)) conv=notrunc status=none
    printf '\x80\0\0\0' | dd of="$work/in/dos.exe" bs=1 seek=$((0x3C)) conv=notrunc status=none
    refuse 8 "is not a PE file: no PE signature" "$work/in/dos.exe" "$archive" "$work/out/bundled.exe"
    printf '\xF0\xFF\0\0' | dd of="$work/in/dos.exe" bs=1 seek=$((0x3C)) conv=notrunc status=none
    refuse 8 "is not a PE file: the PE header lies past the end of the file" \
        "$work/in/dos.exe" "$archive" "$work/out/bundled.exe"
    ;;
RefusesHeadersOutOfReach)
    # The launcher reads its PE headers from its first 4096 bytes only: a
    # bundle whose optional header ends further in would never find its
    # archive. Rows: where the optional header ends, and whether it bundles.
    while read -r end accepted; do
        $pe_tool move-headers "$launcher" "$work/in/moved.exe" "$end" || fail "could not move the headers to $end"
        if [ "$accepted" = yes ]; then
            run "$work/in/moved.exe" "$archive" "$work/out/bundled.exe"
            [ "$rc" = 0 ] || fail "headers ending at $end: exit code $rc: $(cat "$work/stderr")"
            "$checker" plain "$work/out/bundled.exe" "$work/in/moved.exe" "$archive" ||
                fail "headers ending at $end: the check failed"
            rm -f "$work/out/bundled.exe"
            echo "headers ending at $end: bundled"
        else
            refuse 10 "would not find an archive appended to it (its PE headers must end within its first 4096 bytes)" \
                "$work/in/moved.exe" "$archive" "$work/out/bundled.exe"
        fi
    done <<'ROWS'
4096 yes
4097 no
4104 no
12288 no
ROWS
    ;;
RefusesSignedLauncher)
    make_signer
    sign "$launcher" "$work/in/signed.exe"
    message="is signed; bundle the unsigned launcher first and sign the bundled file after"
    refuse 9 "$message" "$work/in/signed.exe" "$archive" "$work/out/bundled.exe"
    # Signed, then something appended: still signed as far as bundling goes.
    cp "$work/in/signed.exe" "$work/in/signed-plus.exe"
    printf 'extra bytes after the signature' >>"$work/in/signed-plus.exe"
    refuse 9 "$message" "$work/in/signed-plus.exe" "$archive" "$work/out/bundled.exe"
    ;;
RefusesMissingOutputFolder)
    refuse 11 "cannot create '$work/out/none/." "$launcher" "$archive" "$work/out/none/bundled.exe"
    ;;
FullDiskLeavesNoFile)
    # A folder on a 256 KiB tmpfs of a private mount namespace; the archive
    # is larger, so a write fails part way.
    random_file "$work/in/large.zip" $((2 * 1024 * 1024))
    export tool launcher work
    unshare -m bash -c '
        mount -t tmpfs -o size=256k tmpfs "$work/out" || exit 3
        rc=0
        "$tool" "$launcher" "$work/in/large.zip" "$work/out/bundled.exe" 2>"$work/in/stderr" || rc=$?
        left=$(ls -A "$work/out")
        cat "$work/in/stderr"
        [ "$rc" = 11 ] || { echo "exit code $rc, expected 11"; exit 1; }
        grep -q "cannot write" "$work/in/stderr" || { echo "no write error reported"; exit 1; }
        [ -z "$left" ] || { echo "left behind: $left"; exit 1; }
    ' || fail "the full disk was not handled"
    ;;
RoundTripPlain)
    # Archives of all eight remainders of the length, so every padding from
    # 0 to 7 occurs, and one across the 1 MiB chunk size.
    for size in fixture 1 2 3 4 5 6 7 8 1048577; do
        current=$archive
        if [ "$size" != fixture ]; then
            current=$work/in/random-$size.zip
            random_file "$current" "$size"
        fi
        run "$launcher" "$current" "$work/out/bundled.exe"
        [ "$rc" = 0 ] || fail "bundling ($size) failed with $rc: $(cat "$work/stderr")"
        grep -qE "^pivra-bundle: $(stat -c %s "$current") archive bytes appended after [0-7] bytes of padding$" \
            "$work/stdout" || fail "unexpected output: $(cat "$work/stdout")"
        "$checker" plain "$work/out/bundled.exe" "$launcher" "$current" || fail "the check failed ($size)"
        expect_trailer "$work/out/bundled.exe" "$(stat -c %s "$current")"
        $pe_tool checksum "$work/out/bundled.exe" || fail "the PE checksum is wrong ($size)"
        [ -x "$work/out/bundled.exe" ] || fail "the output lost the launcher's execute permission"
        leftovers
    done
    ;;
SignAfterBundling)
    make_signer
    for size in fixture 1 2 3 4 5 6 7 8 1048577; do
        current=$archive
        if [ "$size" != fixture ]; then
            current=$work/in/random-$size.zip
            random_file "$current" "$size"
        fi
        run "$launcher" "$current" "$work/out/bundled.exe"
        [ "$rc" = 0 ] || fail "bundling ($size) failed with $rc: $(cat "$work/stderr")"
        sign "$work/out/bundled.exe" "$work/out/signed.exe"
        expect_verified "$work/out/signed.exe"
        # The signing tool added its table right after the trailer.
        "$checker" signed "$work/out/signed.exe" "$launcher" "$current" || fail "the check failed ($size)"
        $pe_tool checksum "$work/out/signed.exe" || fail "the PE checksum is wrong ($size)"
        # One flipped byte in the middle of the archive breaks the signature.
        length=$(stat -c %s "$current")
        start=$(($(stat -c %s "$work/out/bundled.exe") - 16 - length))
        middle=$((start + length / 2))
        cp "$work/out/signed.exe" "$work/out/flipped.exe"
        byte=$(od -An -tu1 -j "$middle" -N 1 "$work/out/flipped.exe" | tr -d ' ')
        printf "$(printf '\\%03o' $((byte ^ 1)))" |
            dd of="$work/out/flipped.exe" bs=1 seek="$middle" conv=notrunc status=none
        cmp -s "$work/out/signed.exe" "$work/out/flipped.exe" && fail "the byte at $middle was not flipped"
        verify "$work/out/flipped.exe"
        [ "$vrc" != 0 ] || fail "osslsigncode verified the file with a flipped archive byte ($size): $(cat "$work/verify.log")"
        echo "flipped byte at $middle of the archive ($size): verification failed, as it must"
        leftovers
    done
    ;;
SignedAtBuildTime)
    # What pivra_bundle_launcher made with its SIGN_COMMAND; the test key's
    # folder in PIVRA_SIGNER_DIR, the files in PIVRA_SIGNED_BUNDLES, split by |.
    cp -r "$PIVRA_SIGNER_DIR" "$work/pki"
    IFS='|' read -r -a bundles <<<"$PIVRA_SIGNED_BUNDLES"
    [ "${#bundles[@]}" -gt 0 ] || fail "no signed bundles named"
    for bundle in "${bundles[@]}"; do
        expect_verified "$bundle"
        "$checker" signed "$bundle" "$launcher" "$archive" || fail "the check failed: $bundle"
        [ ! -e "$bundle.signing" ] || fail "the signing copy was left: $bundle.signing"
    done
    ;;
ReplacesAnOlderOutput)
    random_file "$work/out/bundled.exe" 3000000
    run "$launcher" "$archive" "$work/out/bundled.exe"
    [ "$rc" = 0 ] || fail "bundling failed with $rc: $(cat "$work/stderr")"
    "$checker" plain "$work/out/bundled.exe" "$launcher" "$archive" || fail "the output is not the new bundle"
    leftovers
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "ok: $case_name"
