#!/bin/bash
# The launcher's benchmark, in one run and one table; every figure is the
# median of several runs, with its lowest and highest, set against the least
# the step can cost and against other tools, on the same machine:
#   1. installed road: launcher start to suite start, against a program that
#      makes the road's required calls and nothing else (bench/road_reference.cpp),
#      that program's first steps on their own (what COM's start-up, the
#      trailer check and the known-folder lookups each add) and a program
#      that only calls ShellExecuteW (a run's figure is the median of three
#      starts of each, all taken in turn);
#   2. download of 200 MiB over loopback HTTPS, against a bare WinHTTP read
#      loop with the same calls and reads (bench/bare_loops.cpp) and curl;
#   3. copy-out of a 200 MB appended archive, against a bare ReadFile/WriteFile
#      loop with the same buffer and cp of the same bytes;
#   4. the launcher file's size from both compilers;
#   5. peak memory of the download (20 MiB and 200 MiB) and of the copy-out;
#   6. the install from a 200 MB archive of 50 files (UnpackArchive: staging,
#      tar, the move into place and the clean-up) against one bare tar run
#      straight into the Programs folder.
# Usage: bash bench/run.sh [runs]      (default 15; PIVRA_BUILD=<g++ tree>, default build/;
#        PIVRA_BUILD_CLANG=<clang tree>, default build-clang/, for the file size)
# Builds what it needs, then runs inside tests/bench/sandbox.sh: loopback
# only, in a network namespace of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
script="$root/bench/run.sh"
build="${PIVRA_BUILD:-$root/build}"
runs=${1:-15}
case "$runs" in
'' | *[!0-9]* | 0*) echo "usage: bench/run.sh [runs]   (runs: a whole number from 1)" >&2; exit 2 ;;
esac

if [ -z "${PIVRA_BENCH_INSIDE:-}" ]; then
    . "$root/tests/bench/deps.sh"
    pivra_install_deps curl
    mkdir -p "$build"
    build=$(cd "$build" && pwd)
    log="$build/bench-build.log"
    # Configured as tests/run-tests.sh does, so the tree serves both.
    if ! cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DDownloadHost=localhost -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$log" 2>&1; then
        tail -n 30 "$log" >&2
        echo "bench: configuring $build failed (whole log: $log)" >&2
        exit 1
    fi
    targets=$(cmake --build "$build" --target help 2>/dev/null || true)
    if ! grep -qw bench_programs <<<"$targets"; then
        echo "bench: the build has no bench_programs target; bench/bench.cmake must be included" >&2
        echo '  (include(${CMAKE_SOURCE_DIR}/bench/bench.cmake OPTIONAL) after the tests are added)' >&2
        exit 1
    fi
    echo "bench: building in $build"
    if ! cmake --build "$build" -j 2 --target bench_programs >>"$log" 2>&1; then
        tail -n 30 "$log" >&2
        echo "bench: the build failed (whole log: $log)" >&2
        exit 1
    fi
    # Only the launcher's file of the clang tree, for its size.
    clang_build="${PIVRA_BUILD_CLANG:-$root/build-clang}"
    mkdir -p "$clang_build"
    clang_build=$(cd "$clang_build" && pwd)
    if ! { cmake -S "$root" -B "$clang_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-x86_64.cmake" \
        -DDownloadHost=localhost -DCMAKE_EXPORT_COMPILE_COMMANDS=ON &&
        cmake --build "$clang_build" -j 2 --target PivraSuiteMessaging; } >"$clang_build/bench-build.log" 2>&1; then
        tail -n 30 "$clang_build/bench-build.log" >&2
        echo "bench: the clang launcher failed to build (whole log: $clang_build/bench-build.log)" >&2
        exit 1
    fi
    echo "bench: $runs runs under Wine, in a private network namespace"
    # The server ends by itself even if this run is cut short.
    exec env PIVRA_BENCH_INSIDE=1 PIVRA_BENCH_CLANG_LAUNCHER="$clang_build/PivraSuiteMessaging.exe" \
        PIVRA_SERVER_MAX_SECONDS=3600 "$root/tests/bench/sandbox.sh" "$build" \
        bash "$script" "$runs"
fi

# From here on inside the sandbox: WINEPREFIX, PIVRA_BUILD_DIR and
# PIVRA_SERVER_DIR are set, the server listens on 127.0.0.1:443.
[ -n "${PIVRA_SERVER_DIR:-}" ] && [ -n "${PIVRA_BUILD_DIR:-}" ] || {
    echo "bench: run bench/run.sh itself, not this stage" >&2
    exit 2
}
build=$PIVRA_BUILD_DIR

die() {
    echo "bench: $*" >&2
    exit 1
}
# Every Windows program has a time limit, so a hang ends the run.
win() { timeout -k 5 180 wine "$@" </dev/null; }
winpath() { winepath -w "$1" 2>/dev/null | tr -d '\r'; }
benchctl_path() {
    local path
    path=$(win "$build/tests/benchctl.exe" path "$1" | tr -d '\r') || die "benchctl path $1 failed"
    [ -n "$path" ] || die "benchctl path $1 gave nothing"
    echo "$path"
}
median() { sort -g | awk '{v[NR]=$1} END {if (NR == 0) exit 1; print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
spread() { sort -g | awk 'NR == 1 {low = $1} {high = $1} END {print low, high}'; }  # min and max
field() { sed -n "s/.*$1=\\([0-9.]*\\).*/\\1/p"; }  # <name>: its number on the line

work=$(mktemp -d "$build/bench-results.XXXXXX")
temp_dir=""
temp_archive=""
cleanup() {
    rm -rf "$work"
    [ -z "$temp_dir" ] || rm -f "$temp_dir/bench-bundled.exe" "$temp_dir/bench-plain.bin" "$temp_dir/bench-copy.bin" \
        "$temp_dir/bench-bare-copy.bin" "$temp_dir/bench-bare-download.bin"
    [ -z "$temp_archive" ] || rm -f "$temp_archive"  # a copy-out that broke off leaves its part
    echo ok >"$PIVRA_SERVER_DIR/mode" 2>/dev/null || true
}
trap cleanup EXIT

# --- 1. the installed road ------------------------------------------------
# The fixture suite where the launcher looks for it (as tools/demo-steps.sh).
install_win=$(benchctl_path install-dir)
suite_win=$(benchctl_path suite-exe)
install_dir=$(winepath -u "$install_win" 2>/dev/null)
mkdir -p "$install_dir"
cp "$build/tests/PivraSuite.exe" "$install_dir/"
record="$install_dir/received.txt"
launcher_win=$(winpath "$build/PivraSuiteMessaging.exe")
minimal_win=$(winpath "$build/bench/minimal_launch.exe")
# The road's reference in its steps; road_reference_3 is the whole road.
road_steps=(1 2 3)
for step in "${road_steps[@]}"; do
    [ -f "$build/bench/road_reference_$step.exe" ] || die "no bench/road_reference_$step.exe in $build"
done

# time_launch <results file> <program> [arguments...]: one run; the suite's
# record must match the first run's, so both programs start it alike.
time_launch() {
    local results=$1 output milliseconds
    shift
    rm -f "$record"
    # Wine now and then fails a CreateProcess with an internal error (1359):
    # such a start is taken once more, and said so.
    output=$(win "$build/bench/launch_timer.exe" PivraSuite.exe "$@" | tr -d '\r') || {
        echo "bench: launch_timer failed for $1; once more" >&2
        rm -f "$record"
        output=$(win "$build/bench/launch_timer.exe" PivraSuite.exe "$@" | tr -d '\r')
    } || die "launch_timer failed twice for $1"
    milliseconds=$(sed -n 's/^startup_ms=\([0-9.]*\) exit=0$/\1/p' <<<"$output")
    [ -n "$milliseconds" ] || die "no start time, or a failed exit, for $1: $output"
    [ -f "$record" ] || die "the suite started by $1 left no record"
    if [ -f "$work/expected-record" ]; then
        cmp -s "$record" "$work/expected-record" || {
            diff "$work/expected-record" "$record" >&2 || true
            die "the suite started by $1 was started otherwise than by the launcher"
        }
    else
        cp "$record" "$work/expected-record"
    fi
    echo "$milliseconds" >>"$results"
}


# --- 2. the copy-out --------------------------------------------------------
archive_bytes=200000000
temp_archive_win=$(benchctl_path temp-archive)
temp_dir=$(dirname "$(winepath -u "$temp_archive_win" 2>/dev/null)")
[ -d "$temp_dir" ] || die "no Wine temp folder at $temp_dir"
# The launcher's file with 200 MB of random bytes and the trailer appended,
# and the same bytes as a plain file for cp, side by side.
/usr/bin/python3 - "$build/PivraSuiteMessaging.exe" "$temp_dir/bench-bundled.exe" "$temp_dir/bench-plain.bin" \
    "$archive_bytes" <<'EOF'
import os, struct, sys
launcher, bundled, plain, length = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
with open(launcher, "rb") as head, open(bundled, "wb") as out, open(plain, "wb") as copy:
    out.write(head.read())
    left = length
    while left:
        block = os.urandom(min(left, 1 << 20))
        out.write(block)
        copy.write(block)
        left -= len(block)
    out.write(b"PIVRAZIP" + struct.pack("<Q", length))
    # On disk before the runs, so no writeback of them runs alongside.
    for handle in (out, copy):
        handle.flush()
        os.fsync(handle.fileno())
EOF
bundled_win=$(winpath "$temp_dir/bench-bundled.exe")
bare_copy_win=$(winpath "$temp_dir/bench-bare-copy.bin")
temp_archive=$(winepath -u "$temp_archive_win" 2>/dev/null)

copyout_run() {  # <results file> [keep]
    local output results=$1
    shift
    output=$(win "$build/bench/copyout_timer.exe" "$bundled_win" "$archive_bytes" "$@" | tr -d '\r') ||
        die "the copy-out failed: $output"
    grep -q "^bytes=$archive_bytes seconds=" <<<"$output" || die "unexpected copy-out report: $output"
    echo "$output" | head -n 1 >>"$results"
}
bare_copy_run() {  # <results file>
    local output
    output=$(win "$build/bench/bare_loops.exe" copy "$bundled_win" "$bare_copy_win" | tr -d '\r') ||
        die "the bare copy-out failed: $output"
    grep -q "^bytes=$archive_bytes seconds=" <<<"$output" || die "unexpected bare copy-out report: $output"
    rm -f "$temp_dir/bench-bare-copy.bin"
    echo "$output" >>"$1"
}
cp_run() {  # <results file>
    local start end
    start=$EPOCHREALTIME
    cp "$temp_dir/bench-plain.bin" "$temp_dir/bench-copy.bin"
    end=$EPOCHREALTIME
    rm -f "$temp_dir/bench-copy.bin"
    awk -v s="$start" -v e="$end" 'BEGIN {printf "%.6f\n", e - s}' >>"$1"
}
# The first copy-out is kept once and compared byte for byte.
copyout_run "$work/copyout-check" keep
cmp -s "$temp_archive" "$temp_dir/bench-plain.bin" || die "the copied-out archive differs from the appended bytes"
rm -f "$temp_archive"

# --- 3. the download --------------------------------------------------------
large=209715200
small=20971520
bare_download_win=$(winpath "$temp_dir/bench-bare-download.bin")
download_run() {  # <bytes> <results file>
    local output
    echo "large $1" >"$PIVRA_SERVER_DIR/mode"
    output=$(win "$build/tests/benchctl.exe" download | tr -d '\r') || die "benchctl download failed: $output"
    grep -q "^bytes=$1 seconds=" <<<"$output" || die "unexpected download report: $output"
    echo "$output" >>"$2"
}
bare_download_run() {
    local output
    echo "large $large" >"$PIVRA_SERVER_DIR/mode"
    output=$(win "$build/bench/bare_loops.exe" download localhost /downloads/PivraSuite-Windows.zip \
        "$bare_download_win" | tr -d '\r') || die "the bare download failed: $output"
    grep -q "^bytes=$large seconds=" <<<"$output" || die "unexpected bare download report: $output"
    rm -f "$temp_dir/bench-bare-download.bin"
    echo "$output" >>"$work/bare-download"
}
curl_run() {
    local output
    echo "large $large" >"$PIVRA_SERVER_DIR/mode"
    output=$(timeout -k 5 180 curl -sS --fail --cacert "$PIVRA_SERVER_DIR/certs/ca.pem" -o /dev/null \
        -w '%{time_total} %{size_download}\n' https://localhost/downloads/PivraSuite-Windows.zip) ||
        die "curl failed"
    [ "${output#* }" = "$large" ] || die "curl got ${output#* } bytes, not $large"
    echo "${output%% *}" >>"$work/curl"
}

# --- 4. the install from a 200 MB archive ------------------------------------
# The fixture suite's program and 49 files of 4 MB, stored: the road's suite
# stays startable after each install.
unpack_zip="$work/bench-suite.zip"
/usr/bin/python3 - "$build/tests/PivraSuite.exe" "$unpack_zip" <<'EOF'
import os, sys, zipfile
suite, path = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
    archive.write(suite, "Pivra Suite All In One/PivraSuite.exe")
    for number in range(49):
        archive.writestr("Pivra Suite All In One/data/part-%02d.bin" % number, os.urandom(4000000))
EOF
unpack_zip_win=$(winpath "$unpack_zip")
unpack_run() {
    local output
    output=$(win "$build/bench/copyout_timer.exe" unpack "$unpack_zip_win" | tr -d '\r') ||
        die "the unpacking failed: $output"
    grep -q "^bare_seconds=[0-9.]* unpack_seconds=[0-9.]*$" <<<"$output" || die "unexpected unpack report: $output"
    field bare_seconds <<<"$output" >>"$work/bare-unpack"
    field unpack_seconds <<<"$output" >>"$work/unpack"
}

# --- the runs, interleaved so that drifts of the machine fall on both sides --
# First, unmeasured starts of each, right before the runs (the first starts
# of a fresh prefix are slow); the launcher's record sets the arguments.
for warmup in 1 2 3; do
    time_launch "$work/warmup" "$launcher_win"
    if [ "$warmup" = 1 ]; then
        suite_arguments=$(sed -n 's/^arguments=//p' "$work/expected-record")
        minimal_args=("$minimal_win" "$suite_win" "$install_win")
        [ -z "$suite_arguments" ] || minimal_args+=("$suite_arguments")
    fi
    time_launch "$work/warmup" "${minimal_args[@]}"
    for step in "${road_steps[@]}"; do
        time_launch "$work/warmup" "$(winpath "$build/bench/road_reference_$step.exe")" "${minimal_args[@]:1}"
    done
done
for run in $(seq "$runs"); do
    echo "bench: run $run of $runs" >&2
    # A start is short and Wine's timing jumpy: a run's figure is the
    # median of three starts of each, taken in turn.
    road_series=(launcher minimal "${road_steps[@]/#/step}")
    for series in "${road_series[@]}"; do
        : >"$work/$series-run"
    done
    for _ in 1 2 3; do
        time_launch "$work/launcher-run" "$launcher_win"
        time_launch "$work/minimal-run" "${minimal_args[@]}"
        for step in "${road_steps[@]}"; do
            time_launch "$work/step$step-run" "$(winpath "$build/bench/road_reference_$step.exe")" \
                "${minimal_args[@]:1}"
        done
    done
    for series in "${road_series[@]}"; do
        median <"$work/$series-run" >>"$work/$series-road"
    done
    # Copy-outs under Wine here take either about 0.1 s or about 0.5 s, with
    # no pattern found: a run's figure is the faster of two, for cp as well.
    : >"$work/copyout-run"
    : >"$work/bare-copy-run"
    : >"$work/cp-run"
    for _ in 1 2; do
        copyout_run "$work/copyout-run"
        bare_copy_run "$work/bare-copy-run"
        cp_run "$work/cp-run"
    done
    cat "$work/copyout-run" >>"$work/copyout-all"
    cat "$work/cp-run" >>"$work/cp-all"
    field seconds <"$work/copyout-run" | sort -g | sed -n 1p >>"$work/copyout"
    field seconds <"$work/bare-copy-run" | sort -g | sed -n 1p >>"$work/bare-copy"
    sort -g "$work/cp-run" | sed -n 1p >>"$work/cp"
    download_run "$large" "$work/download-large"
    bare_download_run
    curl_run
    download_run "$small" "$work/download-small"
    unpack_run
    # This run's own figures, so a stray run shows.
    echo "bench:   road $(tail -n 1 "$work/launcher-road") / reference $(tail -n 1 "$work/step3-road") /" \
        "ShellExecuteW $(tail -n 1 "$work/minimal-road") ms," \
        "copy-out" $(field seconds <"$work/copyout-run") "s, bare" $(field seconds <"$work/bare-copy-run") \
        "s, cp" $(cat "$work/cp-run") "s," \
        "download $(tail -n 1 "$work/download-large" | field seconds) s," \
        "bare $(tail -n 1 "$work/bare-download" | field seconds) s, curl $(tail -n 1 "$work/curl") s," \
        "install $(tail -n 1 "$work/unpack") s, bare tar $(tail -n 1 "$work/bare-unpack") s" >&2
done
echo ok >"$PIVRA_SERVER_DIR/mode"

# Every figure: median, lowest, highest. Road series are per run (each the
# median of its three starts); copies are each run's faster one; downloads
# are single runs, turned into MB/s. Lines: "<median> <min> <max>".
stats() { local values; values=$(sort -g); printf '%s %s\n' "$(median <<<"$values")" "$(spread <<<"$values")"; }
for series in launcher minimal step1 step2 step3; do
    stats <"$work/$series-road" >"$work/$series.stats"
done
stats <"$work/copyout" >"$work/copyout.stats"
stats <"$work/bare-copy" >"$work/bare-copy.stats"
stats <"$work/cp" >"$work/cp.stats"
field seconds <"$work/download-large" | stats >"$work/download.stats"
field seconds <"$work/bare-download" | stats >"$work/bare-download.stats"
stats <"$work/curl" >"$work/curl.stats"
stats <"$work/unpack" >"$work/unpack.stats"
stats <"$work/bare-unpack" >"$work/bare-unpack.stats"
all_stats=""
for series in launcher minimal step1 step2 step3 download bare-download curl copyout bare-copy cp unpack bare-unpack; do
    all_stats="$all_stats $(cat "$work/$series.stats")"
done

copyout_ws=$(field peak_working_set_kib <"$work/copyout-all" | median)
copyout_priv=$(field peak_private_kib <"$work/copyout-all" | median)
copyout_base=$(field base_working_set_kib <"$work/copyout-all" | median)
large_ws=$(field peak_working_set_kib <"$work/download-large" | median)
large_priv=$(field peak_private_kib <"$work/download-large" | median)
small_ws=$(field peak_working_set_kib <"$work/download-small" | median)
small_priv=$(field peak_private_kib <"$work/download-small" | median)
gcc_bytes=$(stat -c %s "$build/PivraSuiteMessaging.exe")
clang_bytes=$(stat -c %s "${PIVRA_BENCH_CLANG_LAUNCHER:?}" 2>/dev/null) || die "no clang launcher at $PIVRA_BENCH_CLANG_LAUNCHER"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
awk -v n="$runs" -v cores="$(nproc)" -v cpu="${cpu:-unknown}" -v wine="$(wine --version 2>/dev/null)" \
    -v ab="$archive_bytes" -v db="$large" -v stats="$all_stats" -v gb="$gcc_bytes" -v cb="$clang_bytes" \
    -v sw="$small_ws" -v sp="$small_priv" -v lw="$large_ws" -v lp="$large_priv" \
    -v cw="$copyout_ws" -v cpv="$copyout_priv" -v cbase="$copyout_base" 'BEGIN {
    split(stats, v, " ")
    # v[3k-2], v[3k-1], v[3k]: median, lowest, highest of series k, in the
    # order launcher minimal step1 step2 step3 download bare-download curl
    # copyout bare-copy cp unpack bare-unpack.
    for (k = 1; k <= 13; k++) { med[k] = v[3 * k - 2]; low[k] = v[3 * k - 1]; high[k] = v[3 * k] }
    line = "------------------------------------------------------------------------------------------------"
    printf "Pivra launcher bench: %d runs; median (lowest - highest) of the runs; MB = 10^6 bytes\n", n
    printf "machine: %s, %d cores; %s\n", cpu, cores, wine
    printf "note: Windows programs run under Wine on Linux; read the ratios against the references.\n"
    print line
    printf "%-52s %9s %9s %9s %9s\n", "installed road, start to suite start (ms)", "median", "lowest", "highest", "adds"
    print line
    ms("ShellExecuteW only (minimal_launch)", 2, 0)
    ms("+ DLL search limit and COM (road_reference_1)", 3, med[2])
    ms("+ trailer check on its own file (road_reference_2)", 4, med[3])
    ms("+ known folders, existence test (road_reference_3)", 5, med[4])
    ms("the launcher", 1, med[5])
    printf "launcher / reference (road_reference_3): %.3fx   (target: at most 1.05x)\n", med[1] / med[5]
    printf "launcher / ShellExecuteW only:           %.3fx\n", med[1] / med[2]
    print line
    printf "%-52s %9s %9s %9s %9s\n", "download of 200 MiB, loopback HTTPS (MB/s)", "median", "lowest", "highest", "ratio"
    print line
    rate("the launcher (DownloadArchive)", db, 6, 6)
    rate("bare WinHTTP loop, 256 KiB reads (bare_loops)", db, 7, 6)
    rate("curl, same server", db, 8, 6)
    printf "launcher / bare loop: %.3fx   (target: at least 0.95x)\n", med[7] / med[6]
    print line
    printf "%-52s %9s %9s %9s %9s\n", "copy-out of 200 MB, faster of 2 a run (MB/s)", "median", "lowest", "highest", "ratio"
    print line
    rate("the launcher (ExtractAppendedArchiveFrom)", ab, 9, 9)
    rate("bare ReadFile/WriteFile loop, 1 MiB (bare_loops)", ab, 10, 9)
    rate("cp, same filesystem", ab, 11, 9)
    printf "launcher / bare loop: %.3fx   (target: at least 0.9x)\n", med[10] / med[9]
    print line
    printf "%-52s %9s %9s %9s %9s\n", "install from a 200 MB archive of 50 files (s)", "median", "lowest", "highest", "adds"
    print line
    secs("one bare tar run into the Programs folder", 13, 0)
    secs("the launcher (UnpackArchive: staging, move, clean-up)", 12, med[13])
    printf "launcher / bare tar run: %.3fx   (target: at most 1.02x)\n", med[12] / med[13]
    print line
    printf "launcher file (icons and version record included): g++ %d bytes, clang %d bytes (limit 65536)\n", gb, cb
    print line
    printf "%-52s %14s %14s\n", "peak memory of the process (KiB)", "working set", "private"
    printf "%-52s %14d %14d\n", "download, 20 MiB archive", sw, sp
    printf "%-52s %14d %14d\n", "download, 200 MiB archive", lw, lp
    printf "%-52s %14d %14d\n", "copy-out, 200 MB archive", cw, cpv
    printf "%-52s %14d\n", "  the copy-out process before the call", cbase
    print line
    printf "adds: over the line above; ratio: launcher MB/s / this line'"'"'s MB/s\n"
}
function ms(name, k, previous) {
    if (previous > 0) {
        printf "%-52s %9.1f %9.1f %9.1f %+9.1f\n", name, med[k], low[k], high[k], med[k] - previous
    } else {
        printf "%-52s %9.1f %9.1f %9.1f\n", name, med[k], low[k], high[k]
    }
}
function secs(name, k, previous) {
    if (previous > 0) {
        printf "%-52s %9.3f %9.3f %9.3f %+9.3f\n", name, med[k], low[k], high[k], med[k] - previous
    } else {
        printf "%-52s %9.3f %9.3f %9.3f\n", name, med[k], low[k], high[k]
    }
}
# Seconds turn into MB/s: the longest run is the slowest.
function rate(name, bytes, k, launcher) {
    printf "%-52s %9.1f %9.1f %9.1f %8.3fx\n", name, bytes / med[k] / 1e6, bytes / high[k] / 1e6, bytes / low[k] / 1e6,
        med[k] / med[launcher]
}'
