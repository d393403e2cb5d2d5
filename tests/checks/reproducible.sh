#!/bin/bash
# Two clean builds of the launchers from this source, in folders of different
# names, at different times and with different SOURCE_DATE_EPOCHs, must give
# byte-identical files, and the same files as the tree under test.
# Usage: reproducible.sh <source dir> <toolchain file> <download host> <work dir> <all places: ON|OFF>
#                        <launcher under test>...
set -euo pipefail
source=$1 toolchain=$2 host=$3 work=$4 all_places=$5
shift 5
rm -rf "$work"
mkdir -p "$work"
build_one() {  # <folder name> <epoch>
    SOURCE_DATE_EPOCH=$2 cmake -S "$source" -B "$work/$1" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DDownloadHost="$host" -DPIVRA_ALL_PLACES="$all_places" -DBUILD_TESTING=OFF >"$work/$1.log" 2>&1
    SOURCE_DATE_EPOCH=$2 cmake --build "$work/$1" -j 2 >>"$work/$1.log" 2>&1 || { cat "$work/$1.log"; exit 1; }
}
build_one first 1000000000
sleep 1
build_one second-build-elsewhere 1700000000
status=0
for reference in "$@"; do
    name=$(basename "$reference")
    a="$work/first/$name"
    for other in "$work/second-build-elsewhere/$name" "$reference"; do
        if cmp "$a" "$other"; then
            echo "identical: $other ($(stat -c %s "$other") bytes, sha256 $(sha256sum "$other" | cut -c1-16))"
        else
            echo "FAIL: $a and $other differ"
            status=1
        fi
    done
done
rm -rf "$work"
exit $status
