#!/bin/bash
# Starts or stops the bench's HTTPS server in the current network namespace.
# Usage: server.sh start <dir> [https_server.py options, e.g. --archive FILE]
#        server.sh stop <dir>
# <dir> gets certs/ (made when missing), mode (the mode file), the logs,
# server.out (the server's own output) and server.pid.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=${1:?usage: server.sh start|stop <dir> [options]}
dir=${2:?usage: server.sh start|stop <dir> [options]}
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
pidfile="$dir/server.pid"

ours() {  # is this pid the server of this folder?
    [ -r "/proc/$1/cmdline" ] && tr '\0' ' ' <"/proc/$1/cmdline" | grep -qF -- "--log-dir $dir --ready-file"
}

stop() {
    [ -s "$pidfile" ] || return 0
    local pid
    pid=$(cat "$pidfile")
    if ours "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            ours "$pid" || break
            sleep 0.1
        done
        if ours "$pid"; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    rm -f "$pidfile"
}

case "$action" in
stop)
    stop
    ;;
start)
    stop
    "$here/certs.sh" "$dir/certs"
    rm -f "$dir/mode" "$dir/ready"
    # Detached from our output, so a caller's pipe is not held open by it.
    /usr/bin/python3 "$here/https_server.py" --certs "$dir/certs" --mode-file "$dir/mode" --log-dir "$dir" \
        --ready-file "$dir/ready" "$@" >"$dir/server.out" 2>&1 </dev/null &
    pid=$!
    echo "$pid" >"$pidfile"
    for _ in $(seq 200); do
        # Written once the socket listens; a probe connection would only
        # add a failed handshake to the log.
        if [ -s "$dir/ready" ]; then
            exit 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.05
    done
    echo "server.sh: the server did not come up:" >&2
    cat "$dir/server.out" >&2 || true
    stop
    exit 1
    ;;
*)
    echo "usage: server.sh start|stop <dir> [options]" >&2
    exit 2
    ;;
esac
