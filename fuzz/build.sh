#!/bin/bash
# Builds the fuzz target for TrailerEnd and AppendedArchiveLength with clang's libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, for the build machine.
# Usage: build.sh <output folder>   (CXX picks the compiler; clang++-14 first)
# Needs clang and libclang-rt-14-dev (libFuzzer and the sanitizers' runtimes).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out=${1:?usage: build.sh <output folder>}
compiler=${CXX:-$(command -v clang++-14 || command -v clang++)}
mkdir -p "$out"
"$compiler" -std=c++20 -g -O1 -Wall -Wextra -Werror \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I "$root" "$here/trailer_fuzz.cpp" "$root/acquire/trailer.cpp" -o "$out/trailer_fuzz"
echo "built $out/trailer_fuzz"
