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
    # Windows' own tar, built once per tree; it needs Debian's archive, so
    # before the private network.
    "$here/bsdtar.sh" "$build"
    exec unshare -n env PIVRA_IN_NETNS=1 "$0" "$build" "$@"
fi
if [ -z "${PIVRA_IN_XVFB:-}" ]; then
    ip link set lo up
    exec env PIVRA_IN_XVFB=1 xvfb-run -a -s "-screen 0 1920x1080x24 -nolisten tcp" "$0" "$build" "$@"
fi

. "$here/wine-env.sh"
# PIVRA_PREFIX names another prefix in the build tree, e.g. for a profile
# of another user name (the prefix's user is $USER).
export WINEPREFIX="$build/${PIVRA_PREFIX:-wineprefix}"
export PIVRA_BUILD_DIR="$build"
"$here/make-prefix.sh" "$WINEPREFIX"
# Wine has no tar.exe and a PowerShell that extracts nothing: Windows' own
# tar goes in, and our PowerShell stand-in.
"$here/../toolstandins/install.sh" "$WINEPREFIX" "$build"
wineserver -p
# Start Wine's own services now, detached from our output: a service started
# by the first test would hold that test's output pipe open for good.
wine wineboot >/dev/null 2>&1 </dev/null
cleanup() {
    "$here/server.sh" stop "$build/server" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# The distribution server on 127.0.0.1:443 of this namespace, with a CA only
# this prefix trusts. Tests switch it through $PIVRA_SERVER_DIR/mode and read
# its logs there. It ends with this script, or after PIVRA_SERVER_MAX_SECONDS.
export PIVRA_SERVER_DIR="$build/server"
"$here/server.sh" start "$PIVRA_SERVER_DIR" --archive "$build/tests/PivraSuite-Windows.zip" \
    --max-seconds "${PIVRA_SERVER_MAX_SECONDS:-5400}" --watch-pid $$
if ! wine "$build/tests/benchctl.exe" trust-ca "Z:$PIVRA_SERVER_DIR/certs/ca.der" </dev/null >/dev/null 2>&1; then
    echo "sandbox: could not trust the test CA in $WINEPREFIX (is $build/tests/benchctl.exe built?)" >&2
    exit 1
fi
# The CA of the test code-signing key (tests/bundle/signer.sh), so that a
# bundle signed with it verifies in this prefix, as a vendor's does on the
# users' machines.
signer_ca="$build/tests/signer/ca.der"
if [ -s "$signer_ca" ] && ! wine "$build/tests/benchctl.exe" trust-ca "Z:$signer_ca" </dev/null >/dev/null 2>&1; then
    echo "sandbox: could not trust the test signer's CA in $WINEPREFIX" >&2
    exit 1
fi

"$@"
