#!/usr/bin/env bash
# Runs one scenario script against the real application server:
#
#   run.sh APPSERVER DEMODB SCENARIO SCRIPT [TIMEOUT]
#
# makes a fresh SQLite database with the server's demo data in a temporary directory (dated as if
# today were $FIS_E2E_TODAY, default 2026-03-20, with $FIS_E2E_INVOICES invoices, default 600),
# starts APPSERVER over it on a free loopback port, runs SCENARIO on SCRIPT with that server and a
# copy of that database as the host database, and stops the server afterwards whatever happened
# (failure, timeout, a signal; if this script itself is killed outright, the server is sent
# SIGTERM by the kernel). The exit code is the scenario's, or 2 when the set-up failed.
set -uo pipefail

if [ $# -lt 4 ]; then
    echo "usage: run.sh APPSERVER DEMODB SCENARIO SCRIPT [TIMEOUT]" >&2
    exit 2
fi
appserver=$1
demodb=$2
scenario=$3
script=$4
timeout=${5:-120}
today=${FIS_E2E_TODAY:-2026-03-20}
invoices=${FIS_E2E_INVOICES:-600}

work=$(mktemp -d "${TMPDIR:-/tmp}/fis-e2e.XXXXXX") || exit 2
db="$work/fis.sqlite"
server_pid=""
scenario_pid=""

stop() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    # Running calls finish on SIGTERM; one that hangs does not keep the test alive.
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
cleanup() {
    stop "$scenario_pid"
    stop "$server_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if ! "$demodb" "$db" --today "$today" --invoices "$invoices"; then
    echo "run.sh: the demo database could not be made" >&2
    exit 2
fi

# The server (and the scenario) die with this script even when no trap can run (SIGKILL).
deathsig=()
if command -v setpriv >/dev/null 2>&1; then
    deathsig=(setpriv --pdeathsig TERM --)
fi
"${deathsig[@]}" "$appserver" --listen 127.0.0.1:0 --database "$db" --threads 4 \
    >"$work/server.out" 2>"$work/server.log" &
server_pid=$!
port=""
for _ in $(seq 1 300); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]\+\)$/\1/p' "$work/server.out" | head -n1)
    [ -n "$port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "run.sh: the application server did not start:" >&2
    cat "$work/server.log" >&2
    exit 2
fi
echo "# application server 127.0.0.1:$port over $db (demo data of $today, $invoices invoices)"

# In the background, so that a signal to this script is handled at once (bash runs traps only
# between commands, and "wait" is one it interrupts).
"${deathsig[@]}" "$scenario" "$script" --server "127.0.0.1:$port" --database "$db" \
    --timeout "$timeout" &
scenario_pid=$!
wait "$scenario_pid"
status=$?
scenario_pid=""
if [ $status -ne 0 ]; then
    echo "--- application server log (last 40 lines) ---" >&2
    tail -n 40 "$work/server.log" >&2
fi
exit $status
