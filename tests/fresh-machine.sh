#!/bin/bash
# Runs a command of this checkout the way a new machine would: in a freshly
# bootstrapped minimal Debian 12 root (mmdebstrap --variant=minbase) that has
# nothing but what the command itself installs. As root, with CI=true and no
# standard input. The root takes the machine's own apt sources; the host's
# package cache is lent to it to save downloads, but every package is still
# installed inside the root by the project's scripts.
#
# Usage: tests/fresh-machine.sh <command...>
#   e.g. tests/fresh-machine.sh bash tests/run-tests.sh
#        tests/fresh-machine.sh bash tools/demo.sh
# A demo's demo-output/ is copied back into this checkout. PIVRA_FRESH_KEEP=1
# keeps the root (its path is printed) for a look after.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || { echo "usage: $0 <command...>" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "fresh-machine: needs root (it bootstraps a Debian root and chroots into it)" >&2; exit 2; }
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || { echo "fresh-machine: no $sources to take the apt sources from" >&2; exit 2; }

started=$(date +%s)
stage_start=$started
stages=()
stage_done() {  # <name>: records how long the stage since the last one took
    local now
    now=$(date +%s)
    stages+=("$(printf '%-28s %5d s' "$1" $((now - stage_start)))")
    stage_start=$now
}

if ! command -v mmdebstrap >/dev/null; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends mmdebstrap
fi

work=$(mktemp -d /var/tmp/pivra-fresh.XXXXXX)
target=$work/root
log=$work/run.log
cleanup() {
    # The mounts live in the run's own mount namespace and are gone with it;
    # never delete through one that is somehow still there.
    if findmnt -rn -o TARGET | grep -q "^$work"; then
        echo "fresh-machine: something is still mounted under $work; left in place" >&2
    elif [ -z "${PIVRA_FRESH_KEEP:-}" ]; then
        rm -rf --one-file-system "$work"
    else
        echo "fresh-machine: the root is kept at $target"
    fi
}
trap cleanup EXIT

echo "== fresh-machine: bootstrapping a minimal Debian 12 root in $target"
unshare -m mmdebstrap --quiet --variant=minbase bookworm "$target" "$sources"
# Every installed machine has these; a bootstrapped root has no /etc/hosts,
# and without it "localhost" does not resolve in the bench's private network.
cat >"$target/etc/hosts" <<'HOSTS'
127.0.0.1	localhost
::1		localhost ip6-localhost ip6-loopback
ff02::1		ip6-allnodes
ff02::2		ip6-allrouters
HOSTS
cp /etc/resolv.conf "$target/etc/resolv.conf"
stage_done "bootstrap"

# The checkout as it stands (tracked and untracked files, without what git
# ignores such as build trees), not the machine's build products.
mkdir -p "$target/work/checkout"
if git -C "$checkout" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$checkout" ls-files -z --cached --others --exclude-standard |
        (cd "$checkout" && tar --null --no-recursion -T - -cf -) | tar -xf - -C "$target/work/checkout"
    cp -a "$checkout/.git" "$target/work/checkout/.git"
else
    tar -C "$checkout" --exclude='./build*' --exclude=./demo-output -cf - . | tar -xf - -C "$target/work/checkout"
fi
stage_done "copy of the checkout"

quoted=$(printf '%q ' "$@")
set +e
unshare -m --propagation private /bin/bash -euo pipefail -c '
    target=$1; command=$2
    # The root must be a mount point of its own, or a test that makes a
    # mount namespace inside it cannot make its mounts private.
    mount --bind "$target" "$target"
    mount -t proc proc "$target/proc"
    mount --rbind /sys "$target/sys"
    mount --bind /dev "$target/dev"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$target/dev/pts"
    mount -t tmpfs -o mode=1777 tmpfs "$target/dev/shm"
    mkdir -p /var/cache/apt/archives/partial
    mount --bind /var/cache/apt/archives "$target/var/cache/apt/archives"
    exec chroot "$target" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root USER=root LANG=C.UTF-8 TERM=dumb CI=true \
        /bin/bash -c "cd /work/checkout && $command" </dev/null
' fresh-machine "$target" "$quoted" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
stage_done "the command"
# What the demo leaves to look at comes back to this checkout.
if [ -d "$target/work/checkout/demo-output" ]; then
    rm -rf "$checkout/demo-output"
    cp -a "$target/work/checkout/demo-output" "$checkout/demo-output"
fi

echo
echo "== fresh-machine: CTest summaries inside the root"
grep -E '^(== [^s]|[0-9]+% tests passed|Total Test time|The following tests FAILED)|^[[:space:]]+[0-9]+ - .*\((Failed|Timeout|Not Run|SEGFAULT|Exception)' "$log" || echo "(none)"
echo
echo "== fresh-machine: stage times"
# The command's own stages, when it reports them.
grep -E '^== stage ' "$log" | sed 's/^== stage /   /' || true
printf '%s\n' "${stages[@]}"
printf '%-28s %5d s\n' "all" $(($(date +%s) - started))
echo "== fresh-machine: '$*' ended with exit code $status"
exit "$status"
