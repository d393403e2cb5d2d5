#!/bin/bash
# Builds the launcher and its tests with both compilers (mingw g++ and
# clang/lld), checks formatting and clang-tidy, and runs every test under
# Wine inside a private network namespace and an X server of its own: the
# whole suite for the g++ build, the end-to-end tests for the clang build
# and for a profile whose user name needs quoting (Zoë O'Neil).
# Extra arguments go to ctest. With PIVRA_BUILD=<dir> only that one g++
# tree is built and tested, for quick runs while working.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tests/bench/deps.sh"

# Runs one stage of the command and reports how long it took.
stage_started=$(date +%s)
stage_done() {  # <name>
    local now
    now=$(date +%s)
    printf '== stage %-40s %5d s\n' "$1" $((now - stage_started))
    stage_started=$now
}

pivra_install_deps
stage_done "packages"

configure_and_build() {  # <build dir> <toolchain file>
    cmake -S "$root" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" -DDownloadHost=localhost -DPIVRA_ALL_PLACES=ON \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
    cmake --build "$1" -j 2
}

if [ -n "${PIVRA_BUILD:-}" ]; then
    configure_and_build "$PIVRA_BUILD" mingw-w64-x86_64.cmake
    "$root/tests/bench/bsdtar.sh" "$PIVRA_BUILD"
    exec "$root/tests/bench/sandbox.sh" "$PIVRA_BUILD" ctest --test-dir "$PIVRA_BUILD" --output-on-failure "$@"
fi

gcc_build="$root/build"
clang_build="$root/build-clang"
configure_and_build "$gcc_build" mingw-w64-x86_64.cmake
stage_done "g++ build"
configure_and_build "$clang_build" clang-mingw-x86_64.cmake
stage_done "clang build"
# Windows' own tar for the bench, built once and shared by both trees.
"$root/tests/bench/bsdtar.sh" "$gcc_build"
"$root/tests/bench/bsdtar.sh" "$clang_build" "$gcc_build"
stage_done "Windows' tar (bsdtar)"

echo "== formatting and static analysis"
"$root/tests/checks/lint.sh" "$clang_build"
stage_done "formatting and static analysis"

echo "== clang build: end-to-end tests"
"$root/tests/bench/sandbox.sh" "$clang_build" ctest --test-dir "$clang_build" --output-on-failure -R '^(InstalledRoad|Download|Install|LauncherFile|Layout|Trailer|Texts|Unpack|Shortcuts\.Paths)' "$@"
stage_done "clang build's tests"

echo "== g++ build, a profile named Zoë O'Neil: both install roads"
USER="Zoë O'Neil" PIVRA_PREFIX=wineprefix-oneil "$root/tests/bench/sandbox.sh" "$gcc_build" \
    ctest --test-dir "$gcc_build" --output-on-failure -R '^(InstalledRoad|Install|Shortcuts\.ReadBack)' "$@"
stage_done "tests in the Zoë O'Neil profile"

echo "== g++ build: every test"
"$root/tests/bench/sandbox.sh" "$gcc_build" ctest --test-dir "$gcc_build" --output-on-failure "$@"
stage_done "g++ build's tests"
