#!/bin/bash
# The main job: builds the launcher and shows it at work under Wine in a
# scratch prefix of its own (private network with loopback only, an X server
# of its own, the bench's HTTPS server), then builds the file to publish.
# Everything to look at lands in demo-output/.
# PIVRA_PLACE=<key> shows another place's launcher (camera, them, suite for
# the whole suite, ...); Messaging's by default.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PIVRA_DEMO_BUILD:-$root/build}  # another tree only for trying the demo out
published="$build-published"
out="$root/demo-output"
. "$root/tests/bench/deps.sh"
pivra_install_deps
place=${PIVRA_PLACE:-messages}
# Configured as the test command does, so the two share the tree.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DDownloadHost=localhost \
    -DPIVRA_ALL_PLACES=ON
row=$(awk -F '\t' -v key="$place" '$1 == key' "$build/places.tsv")
if [ -z "$row" ]; then
    echo "demo: PIVRA_PLACE=$place is no place of the suite; valid: $(cut -f1 "$build/places.tsv" | paste -sd ' ')" >&2
    exit 2
fi
IFS=$'\t' read -r _ launcher_file place_name place_arguments <<<"$row"
cmake --build "$build" -j 2
# Windows' own tar for the prefix (once per tree; minutes the first time).
"$root/tests/bench/bsdtar.sh" "$build"

# The file to publish: the launcher alone, for the real download host (the
# build setting's default, whatever an older cache of this tree said).
cmake -S "$root" -B "$published" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -UDownloadHost \
    -DOwnPlace="$place" -DBUILD_TESTING=OFF
cmake --build "$published" -j 2 --target "${launcher_file%.exe}"

rm -rf "$out"
mkdir -p "$out"
status=0
# Each step inside has its own limits; this one is for the whole walk.
PIVRA_DEMO_OUT="$out" PIVRA_DEMO_LAUNCHER="$launcher_file" PIVRA_DEMO_TITLE="$place_name" PIVRA_DEMO_ARGUMENTS="$place_arguments" timeout --kill-after=10 300 "$root/tests/bench/sandbox.sh" "$build" \
    "$root/tools/demo-steps.sh" 2>&1 | tee "$out/narration.txt" || status=$?

# The download host a launcher file names (its one build setting).
host_of() {
    strings -e l "$1" | grep -x -m 1 -e 'downloads\.pivrasuite\.com' -e localhost || echo '(none found)'
}
cp "$published/$launcher_file" "$out/$launcher_file"
cp "$build/$launcher_file" "$out/${launcher_file%.exe}-demo-localhost.exe"
{
    printf '\n== 4. What was kept, in %s\n' "$out"
    for file in 1-question.png 2-progress.png 3-start-menu.png; do
        if [ -f "$out/$file" ]; then
            printf '   %-40s %s\n' "$file" "$(identify -format '%wx%h PNG' "$out/$file" 2>/dev/null)"
        else
            printf '   %-40s (missing)\n' "$file"
        fi
    done
    printf '   %-40s this narration\n' narration.txt
    printf '   %-40s the file to publish, built alone in %s:\n' "$launcher_file" "$published"
    printf '   %-40s downloads from https://%s, %s bytes\n' '' "$(host_of "$out/$launcher_file")" \
        "$(stat -c %s "$out/$launcher_file")"
    printf '   %-40s the build the demo ran, from %s:\n' "${launcher_file%.exe}-demo-localhost.exe" "$build"
    printf '   %-40s downloads from https://%s (the bench only)\n' '' \
        "$(host_of "$out/${launcher_file%.exe}-demo-localhost.exe")"
    if [ "$status" -eq 0 ]; then
        printf '\nThe demo went through. Its output is in %s\n' "$out"
    else
        printf '\nThe demo FAILED (exit code %s); what it got is in %s\n' "$status" "$out"
    fi
} | tee -a "$out/narration.txt"
exit "$status"
