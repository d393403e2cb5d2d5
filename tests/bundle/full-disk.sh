#!/bin/bash
# Runs a full-disk test (registered only when PIVRA_SMALL_TEMP is set) under
# Wine with PIVRA_SMALL_TEMP naming a 1.5 MiB tmpfs.
# Usage: full-disk.sh <wine-run> <prefix> <test program> <work dir> <gtest filter>
#
# Wine opens files in wineserver, not in the program, so a mount that only the
# program's mount namespace holds is passed by (measured: the file landed on
# the disk below the mount). So the private namespace gets a wineserver of its
# own: the prefix is overlaid there (that server's registry writes stay in the
# namespace) and its pointer to the running server removed, so that the test
# program starts a new server, which sees the mount.
set -euo pipefail
export wine_run=$1 prefix=$2 program=$3 work=$4 filter=$5
mkdir -p "$work"
exec unshare -m bash -c '
    set -euo pipefail
    mount --make-rprivate /
    mount -t tmpfs -o size=64m tmpfs "$work"
    mkdir "$work/upper" "$work/overlay-work" "$work/tmp" "$work/small"
    mount -t overlay overlay -o "lowerdir=$prefix,upperdir=$work/upper,workdir=$work/overlay-work" "$prefix"
    rm -f "$prefix/wineserver"
    mount -t tmpfs -o size=1536k tmpfs "$work/small"
    export TMPDIR="$work/tmp"
    windows_work=${work//\//\\}
    export PIVRA_SMALL_TEMP="Z:$windows_work\\small\\"
    rc=0
    "$wine_run" "$prefix" "$program" --gtest_filter="$filter" >"$work/log" 2>&1 </dev/null || rc=$?
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
    cat "$work/log"
    [ "$rc" = 0 ] || { echo "full-disk: the test program failed ($rc)"; exit 1; }
    # A filter that matched nothing would pass as well.
    grep -q "^\[  PASSED  \] 1 test\." "$work/log" || { echo "full-disk: the test did not run"; exit 1; }
'
