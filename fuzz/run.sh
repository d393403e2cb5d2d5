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

# Seeds near the edges: valid trailers at S = 17 and at L = S - 16, one too
# long; then PE headers: unsigned, signed with the table last, PE32, a table
# that is not last, no security entry.
seeds=$work/seeds
rm -rf "$seeds" "$work/corpus"
mkdir -p "$seeds" "$work/corpus"
seed() {  # seed <name> <file size> <magic> <length> [<table offset> <table size> [<optional magic> <count>]]
    /usr/bin/python3 - "$@" >"$seeds/$1" <<'PY'
import struct, sys
name, size, magic, length, *pe = sys.argv[1:]
out = struct.pack("<q8sQ", int(size), magic.encode(), int(length))
if pe:
    offset, table = int(pe[0]), int(pe[1])
    optional_magic = int(pe[2], 0) if len(pe) > 2 else 0x20B
    count = int(pe[3]) if len(pe) > 3 else 16
    plus = optional_magic == 0x20B
    header = bytearray(0x200)
    header[0:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x80)
    header[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", header, 0x80 + 20, 240 if plus else 224)
    optional = 0x80 + 24
    struct.pack_into("<H", header, optional, optional_magic)
    directories = optional + (112 if plus else 96)
    struct.pack_into("<I", header, directories - 4, count)
    struct.pack_into("<II", header, directories + 32, offset, table)
    out += bytes(header)
sys.stdout.buffer.write(out)
PY
}
seed smallest 17 PIVRAZIP 1
seed from-zero 1000 PIVRAZIP 984
seed one-too-long 1000 PIVRAZIP 985
seed lower-case 1000 pivrazip 10
seed no-trailer 16 PIVRAZIP 1
seed unsigned 100000 PIVRAZIP 5000 0 0
seed signed 100000 PIVRAZIP 5000 98000 2000
seed signed-pe32 100000 PIVRAZIP 97984 98000 2000 0x10B
seed table-not-last 100001 PIVRAZIP 5000 98000 2000
seed no-security-entry 100000 PIVRAZIP 5000 98000 2000 0x20B 4

# -error_exitcode and the sanitizers' own exit codes are non-zero; a timeout
# or out-of-memory also stops with a non-zero code.
cd "$work"
# A small quarantine keeps ASan's memory flat over millions of runs.
export ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1
"$work/trailer_fuzz" -max_total_time="$seconds" -runs="$runs" -timeout=5 -rss_limit_mb=1024 -max_len=4200 \
    -print_final_stats=1 "$work/corpus" "$seeds"
