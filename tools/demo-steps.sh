#!/bin/bash
# Runs inside the bench (see tests/bench/sandbox.sh): a new user starts a
# place's launcher (Messaging's unless tools/demo.sh says otherwise) for the
# first time and installs the suite, then starts it again, then looks at the
# Start menu folder. Says what the user sees and saves the screenshots into
# $PIVRA_DEMO_OUT.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$PIVRA_BUILD_DIR
out=${PIVRA_DEMO_OUT:?PIVRA_DEMO_OUT names the folder for the screenshots}
driver="$build/demo/demo_driver.exe"
launcher_file=${PIVRA_DEMO_LAUNCHER:-PivraSuiteMessaging.exe}
launcher_title=${PIVRA_DEMO_TITLE:-Pivra Suite Messaging}
launcher_arguments=${PIVRA_DEMO_ARGUMENTS---place messages}
launcher="Z:$build/$launcher_file"
shot="$root/tests/e2e/screenshot.sh"
mkdir -p "$out"
if [ ! -f "$driver" ]; then
    echo "demo: no $driver; is tools/demo/demo.cmake included from tests/CMakeLists.txt?" >&2
    exit 1
fi

# Every wait ends: Wine programs get a hard limit each.
limited() {  # <seconds> <command...>
    local seconds=$1
    shift
    timeout --kill-after=5 "$seconds" "$@" </dev/null
}
wine_path() { limited 30 wine "$build/tests/benchctl.exe" path "$1" | tr -d '\r'; }
step() { printf '\n== %s\n' "$*"; }
say() { printf '   %s\n' "$*"; }
show_record() {  # <file>: what the fixture suite wrote about its start
    for _ in $(seq 100); do [ -f "$1" ] && break; sleep 0.1; done
    if [ ! -f "$1" ]; then
        say "! the suite wrote no record ($1)"
        return 1
    fi
    say "The suite was started and recorded:"
    tr -d '\r' <"$1" | sed 's/^/      /'
}

suite_exe_win=$(wine_path suite-exe)
start_menu_win=$(wine_path start-menu)
suite_exe=$(winepath -u "$suite_exe_win" 2>/dev/null)
install_dir=$(dirname "$suite_exe")
start_menu=$(winepath -u "$start_menu_win" 2>/dev/null)
record="$install_dir/received.txt"

# The bench's X server runs no window manager, which would draw the title
# bars; unmanaged, Wine draws them itself, so the screenshots show them.
limited 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 ||
    echo "(could not switch Wine to drawing its own title bars)"

step "A new user: a fresh Wine profile for '${USER:-$(id -un)}'"
say "Suite's place:      $suite_exe_win"
say "Start menu folder:  $start_menu_win"
if [ -e "$install_dir" ] || [ -e "$start_menu" ]; then
    say "! the profile is not fresh: $install_dir or $start_menu exists"
    exit 1
fi
say "Neither exists yet. The download server is the bench's, on 127.0.0.1:443 of a"
say "private network (the launcher here is built for https://localhost)."

# The launcher reads the body 256 KiB at a time and shows a percentage per
# read, so the fixture's 360 KB archive would jump from 0 to 71 % to done.
# A larger archive (the suite plus a padding file) over a slowed line gives
# a percentage that visibly climbs for a few seconds.
padded="$build/demo/PivraSuite-Windows-padded.zip"
pad_mib=8
slowed=no
if tc qdisc add dev lo root tbf rate 16mbit burst 80kb latency 5s 2>/dev/null; then
    slowed=yes
    trap 'tc qdisc del dev lo root 2>/dev/null || true' EXIT
else
    pad_mib=200  # no traffic shaping here: size alone makes it last
fi
cp "$build/tests/PivraSuite-Windows.zip" "$padded"
/usr/bin/python3 - "$padded" "$pad_mib" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a", zipfile.ZIP_STORED) as archive:
    archive.writestr("Pivra Suite All In One/demo-padding.bin", bytes(int(sys.argv[2]) << 20))
EOF
printf 'ok %s\n' "$padded" >"$PIVRA_SERVER_DIR/mode.part"
mv -f "$PIVRA_SERVER_DIR/mode.part" "$PIVRA_SERVER_DIR/mode"
say "The server sends the fixture suite's archive plus a $pad_mib MiB padding file"
say "($(stat -c %s "$padded") bytes), so that the download lasts long enough to watch;"
if [ "$slowed" = yes ]; then
    say "the private network's loopback is held to 2 MB/s meanwhile (tc)."
else
    say "tc is not available here, so the line runs at full speed."
fi

# The tools that unpack: Windows' own tar (libarchive's bsdtar, built from
# Debian's source by tests/bench/bsdtar.sh) at system32\tar.exe, and the
# bench's logging PowerShell stand-in, which Windows would fall back on.
tar_exe="$WINEPREFIX/drive_c/windows/system32/tar.exe"
tar_version=$(limited 30 wine "$tar_exe" --version | tr -d '\r' | sed 's/[[:space:]]*$//' || true)
standin_log="$build/demo/standins.log"
rm -f "$standin_log"
export PIVRA_STANDIN_LOG="Z:$standin_log"
say "Unpacking is up to C:\\windows\\system32\\tar.exe, Windows' own tar:"
say "   ${tar_version:-(it did not say its version)}"
say "(libarchive built for Windows from Debian's source package); PowerShell only if it fails."

step "1. First start of $launcher_file"
status=0
limited 120 wine "$driver" first-start "$launcher" "$launcher_title" "$shot" "$out" || status=$?
if [ "$slowed" = yes ]; then
    tc qdisc del dev lo root 2>/dev/null || true
fi
printf 'ok\n' >"$PIVRA_SERVER_DIR/mode"
if [ -f "$PIVRA_SERVER_DIR/responses.log" ]; then
    say "The server answered: $(tail -n 1 "$PIVRA_SERVER_DIR/responses.log")"
fi
[ "$status" -eq 0 ] || { say "! step 1 failed (driver exit code $status)"; exit 1; }
if [ -s "$standin_log" ]; then
    say "! tar did not do the unpacking; the stand-ins logged:"
    tr -d '\r' <"$standin_log" | sed 's/^/      /'
    exit 1
fi
say "Windows' own tar unpacked the suite; PowerShell did not run."
show_record "$record"
say "The suite's folder now holds:"
(cd "$install_dir" && find . -mindepth 1 -not -name received.txt | sort | sed 's|^\./|      |')
mapfile -t shortcuts < <(find "$start_menu" -maxdepth 1 -name '*.lnk' -printf '%f\n' | sort)
say "The Start menu folder holds ${#shortcuts[@]} shortcuts (arguments and icon as lnkinfo reads them):"
for name in "${shortcuts[@]}"; do
    info=$(lnkinfo "$start_menu/$name" 2>/dev/null || true)
    arguments=$(sed -n 's/^[[:space:]]*Command line arguments[[:space:]]*: //p' <<<"$info")
    icon=$(sed -n 's/^[[:space:]]*Icon location[[:space:]]*: //p' <<<"$info")
    printf '      %-38s %-20s %s\n' "${name%.lnk}" "${arguments:-(no arguments)}" "${icon##*\\}"
done
[ "${#shortcuts[@]}" -eq 10 ] || { say "! expected 10 shortcuts"; exit 1; }

step "2. Second start of $launcher_file: the suite is installed now"
rm -f "$record"
status=0
limited 90 wine "$driver" second-start "$launcher" || status=$?
[ "$status" -eq 0 ] || { say "! step 2 failed (driver exit code $status)"; exit 1; }
show_record "$record"
got=$(sed -n 's/^arguments=//p' "$record" | tr -d '\r')
if [ "$got" != "$launcher_arguments" ]; then
    say "! the suite got '$got', not '${launcher_arguments:-(nothing)}'"
    exit 1
fi
say "The suite was started directly with ${launcher_arguments:-no parameters at all}."

step "3. The Start menu folder, as the user's Explorer shows it"
status=0
limited 90 wine "$driver" show-folder "$start_menu_win" "$shot" "$out" || status=$?
[ "$status" -eq 0 ] || { say "! step 3 failed (driver exit code $status)"; exit 1; }
