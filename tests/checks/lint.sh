#!/bin/bash
# Fails on any file that clang-format would change and on any clang-tidy
# finding in the project's own sources. Usage: lint.sh <clang build dir>
# (a tree configured with CMAKE_EXPORT_COMPILE_COMMANDS=ON).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
cd "$root"

# Every C++ file of the project's own, whether or not git is at hand.
mapfile -t sources < <(find . \( -path './build*' -o -path ./.git -o -path ./tests/third_party \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | LC_ALL=C sort)
status=0
if [ "${#sources[@]}" -eq 0 ]; then
    echo "lint: found no C++ files under $root" >&2
    exit 1
fi

unformatted=()
for file in "${sources[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
echo "clang-format: ${#sources[@]} files, ${#unformatted[@]} not formatted"
for file in "${unformatted[@]}"; do
    echo "  needs clang-format: $file"
    status=1
done

# The fuzzer and the bundler are built for the build machine, not in the
# clang tree, so its compile commands can't tell clang-tidy how to read them.
mapfile -t units < <(printf '%s\n' "${sources[@]}" | grep '\.cpp$' | grep -v -e '^fuzz/' -e '^tools/bundle/')
findings=$(mktemp)
printf '%s\n' "${units[@]}" | xargs -P 2 -n 1 clang-tidy -p "$build" --quiet 2>/dev/null >"$findings.raw"
tidy_status=$?
grep -E '(^|: )(warning|error): ' "$findings.raw" | sort -u >"$findings"
count=$(wc -l <"$findings")
echo "clang-tidy: ${#units[@]} files, $count findings"
sed 's/^/  /' "$findings"
[ "$count" -eq 0 ] || status=1
# 124 and up: clang-tidy was missing, killed or could not be run at all.
if [ "$tidy_status" -ge 124 ]; then
    echo "clang-tidy did not run (xargs ended with $tidy_status)"
    status=1
fi
rm -f "$findings" "$findings.raw"
exit $status
