#!/usr/bin/env bash
# Starts what the build produced: the application server (when built) on a free loopback port
# over build/var/fis.sqlite, then the host with the GPS screen open. Without a display the host
# runs on a private virtual X display (Xvfb), which x11vnc serves on 127.0.0.1 only, behind a
# one-time password printed here. Never fails just because a piece is not built yet.
# With --cluster as the first argument the host talks instead to the small cluster of
# scripts/cluster.sh (PostgreSQL, application servers, HAProxy), started for the session and
# stopped when the host exits.
#
# Environment: FIS_BUILD_DIR (default build),
#              FIS_DEMO_DATA (invoices of demo data for a new database, default 500),
#              FIS_VNC_PORT (first VNC port tried, default 5900),
#              FIS_VNC_SIZE (screen size served over VNC, default 1280x800).
# Extra arguments go to fis-host (see build/bin/fis-host --help).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${FIS_BUILD_DIR:-build}
bin=$build/bin
var=$build/var
db="$var/fis.sqlite"

if [ ! -x "$bin/fis-host" ]; then
    echo "Built so far ($bin):"
    ls -1 "$bin" 2>/dev/null || true
    echo "The host application is not part of this build yet; nothing to start."
    exit 0
fi
mkdir -p "$var"

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

server_pid=""
server_log="$var/fis-appserver.log"
stop_server() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
}
trap stop_server EXIT
trap 'exit 130' INT TERM

host_args=(--open FIS02900 --database "$db")
cluster=false
if [ "${1:-}" = --cluster ]; then
    cluster=true
    shift
fi

if $cluster; then
    trap 'scripts/cluster.sh stop' EXIT
    scripts/cluster.sh start || exit 1
    eval "$(scripts/cluster.sh env)"
    echo "Application servers behind the balancer 127.0.0.1:$FIS_CLUSTER_PORT"
    host_args=(--open FIS02900 --database "$FIS_CLUSTER_DATABASE" --server-host 127.0.0.1
        --server-port "$FIS_CLUSTER_PORT" --token "$FIS_APPSERVER_TOKEN")
elif [ -x "$bin/fis-appserver" ]; then
    server_args=(--listen 127.0.0.1:0 --database "$db")
    if [ ! -f "$db" ]; then
        server_args+=(--demo-data "${FIS_DEMO_DATA:-500}")
        echo "Creating the database $db with demo data (first start)..."
    fi
    ready="$var/fis-appserver.port"
    rm -f "$ready"
    "$bin/fis-appserver" "${server_args[@]}" >"$ready" 2>"$server_log" &
    server_pid=$!
    port=""
    for _ in $(seq 1 600); do
        port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]\+\).*/\1/p' "$ready" 2>/dev/null | head -n1)
        [ -n "$port" ] && break
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -n "$port" ]; then
        echo "Application server: 127.0.0.1:$port (log: $server_log)"
        host_args+=(--server-port "$port" --server-host 127.0.0.1)
    else
        echo "The application server did not start (see $server_log); starting the host alone."
        stop_server
        server_pid=""
    fi
else
    echo "The application server is not built yet ($bin/fis-appserver); starting the host alone:"
    echo "the screen opens, but its calls to the server will report that it cannot be reached."
fi

# Without a display: a virtual X display of our own, served by x11vnc on loopback only. The
# clerk's VNC viewer reaches it through an SSH tunnel from another machine; the password is made
# anew for every start and only this script prints it.
xvfb_pid=""
vnc_pid=""
vnc_files=()
stop_display() {
    for pid in "$vnc_pid" "$xvfb_pid"; do
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
    done
    rm -f "${vnc_files[@]}"
}
stop_all() {
    stop_display
    stop_server
    if $cluster; then scripts/cluster.sh stop; fi
}
trap stop_all EXIT

listening() { ss -ltnH "sport = :$1" 2>/dev/null | grep -q .; }

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    for tool in Xvfb x11vnc xauth; do
        if ! command -v "$tool" >/dev/null; then
            echo "No display, and $tool is missing to serve one over VNC (scripts/deps.sh run)."
            exit 1
        fi
    done
    size=${FIS_VNC_SIZE:-1280x800}
    if ! [[ $size =~ ^[0-9]+x[0-9]+$ ]]; then
        echo "FIS_VNC_SIZE must be WIDTHxHEIGHT (e.g. 1280x800), not '$size'."
        exit 2
    fi
    umask_before=$(umask)
    umask 077
    xauthority="$var/xauthority.$$"
    vnc_passwd="$var/vnc-passwd.$$"
    vnc_files=("$xauthority" "$vnc_passwd")
    secret=$(tr -dc 'A-HJ-NP-Za-km-z2-9' </dev/urandom | head -c 8)
    x11vnc -storepasswd "$secret" "$vnc_passwd" >/dev/null 2>&1
    cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    umask "$umask_before"

    # The first free display number; another program may take it meanwhile: then the next.
    display=90
    for _ in $(seq 1 20); do
        while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
            display=$((display + 1))
        done
        xauth -q -f "$xauthority" add ":$display" . "$cookie" 2>/dev/null
        Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp -auth "$xauthority" \
            >"$var/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 1 100); do
            [ -e "/tmp/.X11-unix/X$display" ] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -0 "$xvfb_pid" 2>/dev/null && break
        xvfb_pid=""
        display=$((display + 1))
    done
    if [ -z "$xvfb_pid" ]; then
        echo "The virtual display did not start (see $var/xvfb.log)."
        exit 1
    fi
    export DISPLAY=":$display" XAUTHORITY="$xauthority" QT_QPA_PLATFORM=xcb

    vnc=${FIS_VNC_PORT:-5900}
    while port_in_use "$vnc" || listening "$vnc"; do vnc=$((vnc + 1)); done
    x11vnc -display ":$display" -auth "$xauthority" -rfbauth "$vnc_passwd" -localhost -no6 \
        -rfbport "$vnc" -forever -shared -quiet >"$var/x11vnc.log" 2>&1 &
    vnc_pid=$!
    for _ in $(seq 1 100); do
        listening "$vnc" && break
        kill -0 "$vnc_pid" 2>/dev/null || break
        sleep 0.1
    done
    if ! listening "$vnc"; then
        echo "The VNC server did not start (see $var/x11vnc.log)."
        exit 1
    fi
    echo "No display: the program is served over VNC on 127.0.0.1:$vnc (this machine only)."
    echo "VNC password for this run: $secret"
    echo "Connect with a VNC viewer, e.g.:  vncviewer 127.0.0.1::$vnc"
    echo "From another machine, through an SSH tunnel:  ssh -L $vnc:127.0.0.1:$vnc <user>@<this host>"
    echo "then, on that machine:  vncviewer 127.0.0.1::$vnc"
fi

# The host runs as a child whose end we wait for; a signal to this script is passed on to it,
# and the server is stopped once it is gone.
"$bin/fis-host" "${host_args[@]}" "$@" &
host_pid=$!
trap 'kill -TERM "$host_pid" 2>/dev/null' INT TERM
status=0
while kill -0 "$host_pid" 2>/dev/null; do
    wait "$host_pid"
    status=$?
done
exit $status
