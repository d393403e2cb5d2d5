#!/bin/bash
# Runs a command with the bench around it: a private network namespace with
# only loopback, an X server, a fresh Wine prefix and its wineserver.
# Usage: sandbox.sh <build dir> <command...>
# Re-executes itself inside `unshare -n` and `xvfb-run` first.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift

if [ -z "${PIVRA_IN_NETNS:-}" ]; then
    exec unshare -n env PIVRA_IN_NETNS=1 "$0" "$build" "$@"
fi
if [ -z "${PIVRA_IN_XVFB:-}" ]; then
    ip link set lo up
    exec env PIVRA_IN_XVFB=1 xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" "$0" "$build" "$@"
fi

. "$here/wine-env.sh"
export WINEPREFIX="$build/wineprefix"
export PIVRA_BUILD_DIR="$build"
"$here/make-prefix.sh" "$WINEPREFIX"
wineserver -p
# Start Wine's own services now, detached from our output: a service started
# by the first test would hold that test's output pipe open for good.
wine wineboot >/dev/null 2>&1 </dev/null
cleanup() {
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
"$@"
