#!/bin/bash
# Builds the launcher and its tests and runs every test under Wine, inside
# a private network namespace and an X server of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${PIVRA_BUILD:-$root/build}"  # a separate tree per worker, if wanted
. "$root/tests/bench/deps.sh"
pivra_install_deps

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DDownloadHost=localhost
cmake --build "$build" -j 2
"$root/tests/bench/sandbox.sh" "$build" ctest --test-dir "$build" --output-on-failure "$@"
