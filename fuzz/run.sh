#!/bin/bash
# Builds the fuzz target and runs it for a bounded time from a few seeds;
# fails on any crash, sanitizer report or broken invariant.
# Usage: run.sh <work folder> [seconds] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:?usage: run.sh <work folder> [seconds] [runs]}
seconds=${2:-10}
runs=${3:-5000000}
"$here/build.sh" "$work"

# Seeds near the edges: valid trailers at S = 17 and at L = S - 16, one too long.
seeds=$work/seeds
rm -rf "$seeds" "$work/corpus"
mkdir -p "$seeds" "$work/corpus"
seed() {  # seed <name> <file size> <magic> <length>
    /usr/bin/python3 -c 'import struct, sys; sys.stdout.buffer.write(struct.pack("<q8sQ", int(sys.argv[1]), sys.argv[2].encode(), int(sys.argv[3])))' "$2" "$3" "$4" >"$seeds/$1"
}
seed smallest 17 PIVRAZIP 1
seed from-zero 1000 PIVRAZIP 984
seed one-too-long 1000 PIVRAZIP 985
seed lower-case 1000 pivrazip 10
seed no-trailer 16 PIVRAZIP 1

# -error_exitcode and the sanitizers' own exit codes are non-zero; a timeout
# or out-of-memory also stops with a non-zero code.
cd "$work"
# A small quarantine keeps ASan's memory flat over millions of runs.
export ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1
"$work/trailer_fuzz" -max_total_time="$seconds" -runs="$runs" -timeout=5 -rss_limit_mb=1024 \
    -print_final_stats=1 "$work/corpus" "$seeds"
