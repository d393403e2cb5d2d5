#!/bin/bash
# Two clean builds of the launcher from this source, in folders of different
# names, at different times and with different SOURCE_DATE_EPOCHs, must give
# byte-identical files, and the same file as the tree under test.
# Usage: reproducible.sh <source dir> <toolchain file> <download host> <work dir> <launcher under test>
set -euo pipefail
source=$1 toolchain=$2 host=$3 work=$4 reference=$5
rm -rf "$work"
mkdir -p "$work"
build_one() {  # <folder name> <epoch>
    SOURCE_DATE_EPOCH=$2 cmake -S "$source" -B "$work/$1" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DDownloadHost="$host" -DBUILD_TESTING=OFF >"$work/$1.log" 2>&1
    SOURCE_DATE_EPOCH=$2 cmake --build "$work/$1" --target PivraSuiteMessaging -j 2 >>"$work/$1.log" 2>&1 ||
        { cat "$work/$1.log"; exit 1; }
}
build_one first 1000000000
sleep 1
build_one second-build-elsewhere 1700000000
a="$work/first/PivraSuiteMessaging.exe"
b="$work/second-build-elsewhere/PivraSuiteMessaging.exe"
status=0
for other in "$b" "$reference"; do
    if cmp "$a" "$other"; then
        echo "identical: $other ($(stat -c %s "$other") bytes, sha256 $(sha256sum "$other" | cut -c1-16))"
    else
        echo "FAIL: $a and $other differ"
        status=1
    fi
done
rm -rf "$work"
exit $status
