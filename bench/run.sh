#!/bin/bash
# The launcher's benchmark, in one run and one table; every figure is the
# median of several runs, set against a reference on the same machine:
#   1. installed road: launcher start to suite start, against a program that
#      does nothing but ShellExecuteW the suite the same way (a run's figure
#      is the median of three starts of each);
#   2. copy-out of a 200 MB appended archive, against cp of the same bytes;
#   3. download of 200 MiB over loopback HTTPS, against curl;
#   4. peak memory of the download (20 MiB and 200 MiB) and of the copy-out.
# Usage: bash bench/run.sh [runs]      (default 5; PIVRA_BUILD=<g++ tree>, default build/)
# Builds what it needs, then runs inside tests/bench/sandbox.sh: loopback
# only, in a network namespace of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
script="$root/bench/run.sh"
build="${PIVRA_BUILD:-$root/build}"
runs=${1:-5}
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
    echo "bench: $runs runs under Wine, in a private network namespace"
    # The server ends by itself even if this run is cut short.
    exec env PIVRA_BENCH_INSIDE=1 PIVRA_SERVER_MAX_SECONDS=1800 "$root/tests/bench/sandbox.sh" "$build" \
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
    [ -z "$temp_dir" ] || rm -f "$temp_dir/bench-bundled.exe" "$temp_dir/bench-plain.bin" "$temp_dir/bench-copy.bin"
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

# time_launch <results file> <program> [arguments...]: one run; the suite's
# record must match the first run's, so both programs start it alike.
time_launch() {
    local results=$1 output milliseconds
    shift
    rm -f "$record"
    output=$(win "$build/bench/launch_timer.exe" PivraSuite.exe "$@" | tr -d '\r') ||
        die "launch_timer failed for $1"
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
temp_archive=$(winepath -u "$temp_archive_win" 2>/dev/null)

copyout_run() {  # <results file> [keep]
    local output results=$1
    shift
    output=$(win "$build/bench/copyout_timer.exe" "$bundled_win" "$archive_bytes" "$@" | tr -d '\r') ||
        die "the copy-out failed: $output"
    grep -q "^bytes=$archive_bytes seconds=" <<<"$output" || die "unexpected copy-out report: $output"
    echo "$output" | head -n 1 >>"$results"
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
download_run() {  # <bytes> <results file>
    local output
    echo "large $1" >"$PIVRA_SERVER_DIR/mode"
    output=$(win "$build/tests/benchctl.exe" download | tr -d '\r') || die "benchctl download failed: $output"
    grep -q "^bytes=$1 seconds=" <<<"$output" || die "unexpected download report: $output"
    echo "$output" >>"$2"
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
done
for run in $(seq "$runs"); do
    echo "bench: run $run of $runs" >&2
    # A start is short and Wine's timing jumpy: a run's figure is the
    # median of three starts of each, taken in turn.
    : >"$work/launcher-run"
    : >"$work/minimal-run"
    for _ in 1 2 3; do
        time_launch "$work/launcher-run" "$launcher_win"
        time_launch "$work/minimal-run" "${minimal_args[@]}"
    done
    median <"$work/launcher-run" >>"$work/launcher-road"
    median <"$work/minimal-run" >>"$work/minimal-road"
    # Copy-outs under Wine here take either about 0.1 s or about 0.5 s, with
    # no pattern found: a run's figure is the faster of two, for cp as well.
    : >"$work/copyout-run"
    : >"$work/cp-run"
    for _ in 1 2; do
        copyout_run "$work/copyout-run"
        cp_run "$work/cp-run"
    done
    cat "$work/copyout-run" >>"$work/copyout-all"
    cat "$work/cp-run" >>"$work/cp-all"
    field seconds <"$work/copyout-run" | sort -g | sed -n 1p >>"$work/copyout"
    sort -g "$work/cp-run" | sed -n 1p >>"$work/cp"
    download_run "$large" "$work/download-large"
    curl_run
    download_run "$small" "$work/download-small"
    # This run's own figures, so a stray run shows.
    echo "bench:   road $(tail -n 1 "$work/launcher-road") / $(tail -n 1 "$work/minimal-road") ms," \
        "copy-out" $(field seconds <"$work/copyout-run") "s, cp" $(cat "$work/cp-run") "s," \
        "download $(tail -n 1 "$work/download-large" | field seconds) s, curl $(tail -n 1 "$work/curl") s" >&2
done
echo ok >"$PIVRA_SERVER_DIR/mode"

for series in launcher-road minimal-road curl; do
    cp "$work/$series" "$work/$series.values"
done
# Every single copy, not only each run's faster one.
field seconds <"$work/copyout-all" >"$work/copyout.values"
cp "$work/cp-all" "$work/cp.values"
field seconds <"$work/download-large" >"$work/download-large.values"
spreads=""
for series in launcher-road minimal-road copyout cp download-large curl; do
    spreads="$spreads $(spread <"$work/$series.values")"
done

launcher_ms=$(median <"$work/launcher-road")
minimal_ms=$(median <"$work/minimal-road")
copyout_s=$(median <"$work/copyout")
copyout_ws=$(field peak_working_set_kib <"$work/copyout-all" | median)
copyout_priv=$(field peak_private_kib <"$work/copyout-all" | median)
copyout_base=$(field base_working_set_kib <"$work/copyout-all" | median)
cp_s=$(median <"$work/cp")
download_s=$(field seconds <"$work/download-large" | median)
curl_s=$(median <"$work/curl")
large_ws=$(field peak_working_set_kib <"$work/download-large" | median)
large_priv=$(field peak_private_kib <"$work/download-large" | median)
small_ws=$(field peak_working_set_kib <"$work/download-small" | median)
small_priv=$(field peak_private_kib <"$work/download-small" | median)

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
awk -v n="$runs" -v cores="$(nproc)" -v cpu="${cpu:-unknown}" -v wine="$(wine --version 2>/dev/null)" \
    -v lm="$launcher_ms" -v mm="$minimal_ms" \
    -v ab="$archive_bytes" -v cs="$copyout_s" -v ps="$cp_s" \
    -v db="$large" -v ds="$download_s" -v us="$curl_s" \
    -v sw="$small_ws" -v sp="$small_priv" -v lw="$large_ws" -v lp="$large_priv" \
    -v cw="$copyout_ws" -v cpv="$copyout_priv" -v cb="$copyout_base" -v spreads="$spreads" 'BEGIN {
    split(spreads, r, " ")
    line = "------------------------------------------------------------------------------------"
    printf "Pivra launcher bench: median of %d runs; MB = 10^6 bytes\n", n
    printf "machine: %d cores, %s; %s\n", cores, cpu, wine
    printf "note: Windows programs run under Wine on Linux, so absolute figures say little; read the ratios.\n"
    print line
    printf "%-36s %14s %-22s %14s %7s\n", "measure", "launcher", "against", "", "ratio"
    print line
    printf "%-36s %11.1f ms %-22s %11.1f ms %6.2fx\n", "installed road: start to suite start", lm,
        "minimal ShellExecuteW", mm, lm / mm
    printf "%-36s %9.1f MB/s %-22s %9.1f MB/s %6.2fx\n", "copy-out of 200 MB (faster of 2)", ab / cs / 1e6,
        "cp, same filesystem", ab / ps / 1e6, ps / cs
    printf "%-36s %9.1f MB/s %-22s %9.1f MB/s %6.2fx\n", "download of 200 MiB, loopback HTTPS", db / ds / 1e6,
        "curl, same server", db / us / 1e6, us / ds
    print line
    printf "ratios: launcher time / minimal time; launcher MB/s / reference MB/s\n"
    printf "installed road, launcher minus minimal: %.1f ms\n", lm - mm
    printf "spread of the runs (lowest - highest; copies: every single one):\n"
    printf "  %-34s %7.1f - %7.1f ms    %-8s %7.1f - %7.1f ms\n", "installed road, launcher", r[1], r[2],
        "minimal", r[3], r[4]
    # Seconds turn into MB/s: the shortest run is the fastest.
    printf "  %-34s %7.1f - %7.1f MB/s  %-8s %7.1f - %7.1f MB/s\n", "copy-out, launcher", ab / r[6] / 1e6,
        ab / r[5] / 1e6, "cp", ab / r[8] / 1e6, ab / r[7] / 1e6
    printf "  %-34s %7.1f - %7.1f MB/s  %-8s %7.1f - %7.1f MB/s\n", "download, launcher", db / r[10] / 1e6,
        db / r[9] / 1e6, "curl", db / r[12] / 1e6, db / r[11] / 1e6
    print line
    printf "%-36s %14s %14s\n", "peak memory of the process (KiB)", "working set", "private"
    printf "%-36s %14d %14d\n", "download, 20 MiB archive", sw, sp
    printf "%-36s %14d %14d\n", "download, 200 MiB archive", lw, lp
    printf "%-36s %14d %14d\n", "copy-out, 200 MB archive", cw, cpv
    printf "%-36s %14d\n", "  the copy-out process before the call", cb
    print line
}'
