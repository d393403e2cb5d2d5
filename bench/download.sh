#!/bin/bash
# Download benchmark: the launcher's own download code (DownloadArchive, run
# by benchctl under Wine) against curl, from the bench's HTTPS server on
# loopback in a private network namespace, in one run; plus the peak memory
# of the process for a 20 MB and a 200 MB body. Medians of several runs.
# Usage: bench/download.sh [runs]   (builds with tests/run-tests.sh first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${PIVRA_BUILD:-$root/build}"
[ -x "$build/tests/benchctl.exe" ] || { echo "build first: bash tests/run-tests.sh" >&2; exit 1; }
if [ -z "${PIVRA_SERVER_DIR:-}" ]; then
    exec "$root/tests/bench/sandbox.sh" "$build" "$0" "$@"
fi
runs=${1:-5}
large=209715200
small=20971520
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
launcher_run() {  # <bytes>: prints "seconds peak_working_set_kib peak_private_kib"
    echo "large $1" >"$PIVRA_SERVER_DIR/mode"
    wine "$build/tests/benchctl.exe" download </dev/null | tr -d '\r' |
        sed -E 's/.*seconds=([0-9.]+) peak_working_set_kib=([0-9]+) peak_private_kib=([0-9]+).*/\1 \2 \3/'
}
curl_run() {
    echo "large $1" >"$PIVRA_SERVER_DIR/mode"
    curl -s --cacert "$PIVRA_SERVER_DIR/certs/ca.pem" -o /dev/null -w '%{time_total}\n' \
        https://localhost/downloads/PivraSuite-Windows.zip
}
: >/tmp/pivra-bench-launcher; : >/tmp/pivra-bench-curl; : >/tmp/pivra-bench-small
for _ in $(seq "$runs"); do
    launcher_run $large >>/tmp/pivra-bench-launcher
    curl_run $large >>/tmp/pivra-bench-curl
    launcher_run $small >>/tmp/pivra-bench-small
done
echo ok >"$PIVRA_SERVER_DIR/mode"
launcher_s=$(cut -d' ' -f1 /tmp/pivra-bench-launcher | median)
curl_s=$(median </tmp/pivra-bench-curl)
large_ws=$(cut -d' ' -f2 /tmp/pivra-bench-launcher | median)
large_priv=$(cut -d' ' -f3 /tmp/pivra-bench-launcher | median)
small_ws=$(cut -d' ' -f2 /tmp/pivra-bench-small | median)
small_priv=$(cut -d' ' -f3 /tmp/pivra-bench-small | median)
awk -v n="$runs" -v ls="$launcher_s" -v cs="$curl_s" -v b="$large" -v lw="$large_ws" -v lp="$large_priv" \
    -v sw="$small_ws" -v sp="$small_priv" 'BEGIN {
    printf "download of 200 MiB over loopback HTTPS, median of %d runs\n", n
    printf "  %-28s %8.3f s  %8.1f MB/s\n", "launcher (WinHTTP, Wine)", ls, b / ls / 1e6
    printf "  %-28s %8.3f s  %8.1f MB/s\n", "curl", cs, b / cs / 1e6
    printf "  launcher / curl throughput: %.2f\n", cs / ls
    printf "peak memory of the downloading process (KiB): working set / private\n"
    printf "  20 MiB body   %8d / %8d\n", sw, sp
    printf "  200 MiB body  %8d / %8d\n", lw, lp
}'
