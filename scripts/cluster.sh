#!/usr/bin/env bash
# A small cluster on loopback, for trying many clerks at once: a throw-away PostgreSQL 15 with
# demo data, N fis-appserver processes (each restarted when it fails, as systemd does with
# deploy/fis-appserver@.service) and HAProxy in front of them (deploy/haproxy.cfg).
#
#   scripts/cluster.sh start       starts it (replacing one left running); prints its addresses
#   scripts/cluster.sh stop        stops everything and removes its data
#   scripts/cluster.sh status      what runs
#   scripts/cluster.sh env         FIS_CLUSTER_PORT (balancer), FIS_CLUSTER_DATABASE (URL),
#                                  FIS_APPSERVER_TOKEN, FIS_CLUSTER_SERVERS, as shell assignments
#   scripts/cluster.sh kill I      SIGKILLs server I (1..N); it is restarted half a second later
#   scripts/cluster.sh restart-db  restarts PostgreSQL (fast shutdown: open sessions are cut)
#
# Environment: FIS_BUILD_DIR (default build), FIS_CLUSTER_DIR (default $FIS_BUILD_DIR/var/cluster),
#              FIS_CLUSTER_SERVERS (default 2), FIS_DEMO_DATA (invoices, default 20000),
#              FIS_CLUSTER_THREADS (worker threads per server, default 16).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${FIS_BUILD_DIR:-build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
bin=$build/bin
dir=${FIS_CLUSTER_DIR:-$build/var/cluster}
pgbin=/usr/lib/postgresql/15/bin

die() {
    echo "cluster.sh: $*" >&2
    exit 1
}
# Runs a PostgreSQL tool, as the postgres user when we are root (it refuses to run as root).
pg() {
    local tool=$1
    shift
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$pgbin/$tool" "$@"
    else
        "$pgbin/$tool" "$@"
    fi
}
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local p
    while :; do
        p=$((20000 + RANDOM % 30000))
        port_in_use "$p" || { echo "$p"; return; }
    done
}
alive() { [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }
# Waits up to $2 tenths of a second for a TCP port to accept connections.
wait_port() {
    for _ in $(seq 1 "$2"); do
        port_in_use "$1" && return 0
        sleep 0.1
    done
    return 1
}

load_env() {
    [ -f "$dir/cluster.env" ] || die "no cluster running in $dir (scripts/cluster.sh start)"
    # shellcheck disable=SC1091
    . "$dir/cluster.env"
}

# Keeps server $1 running on port $2 until the cluster stops: restarted half a second after it
# ends for any reason other than the stop.
supervise() {
    local i=$1 port=$2
    while [ ! -e "$dir/stopping" ]; do
        "$bin/fis-appserver" --listen "127.0.0.1:$port" --database "$FIS_CLUSTER_DATABASE" \
            --token-file "$dir/token" --threads "${FIS_CLUSTER_THREADS:-16}" \
            >>"$dir/server$i.out" 2>>"$dir/server$i.log" &
        echo $! >"$dir/server$i.pid"
        local rc=0
        wait $! || rc=$?
        [ -e "$dir/stopping" ] && break
        echo "$(date -Is) cluster.sh: fis-appserver $i ended ($rc); restarting" >>"$dir/server$i.log"
        sleep 0.5
    done
}

stop_cluster() {
    [ -d "$dir" ] || return 0
    # Only a directory this script made is emptied and removed.
    [ -e "$dir/.fis-cluster" ] || [ -z "$(ls -A "$dir")" ] ||
        die "$dir is not a cluster directory; not touching it"
    touch "$dir/stopping"
    if [ -f "$dir/haproxy.pid" ]; then
        kill -TERM "$(cat "$dir/haproxy.pid")" 2>/dev/null || true
    fi
    local f
    for f in "$dir"/server*.pid; do
        [ -f "$f" ] && kill -TERM "$(cat "$f")" 2>/dev/null || true
    done
    for f in "$dir"/supervisor*.pid "$dir"/server*.pid; do
        [ -f "$f" ] || continue
        for _ in $(seq 1 100); do
            kill -0 "$(cat "$f")" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$(cat "$f")" 2>/dev/null || true
    done
    if [ -f "$dir/pg/data/postmaster.pid" ]; then
        pg pg_ctl -D "$dir/pg/data" -m immediate stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
}

start_cluster() {
    [ -x "$bin/fis-appserver" ] || die "$bin/fis-appserver not built (scripts/build.sh)"
    command -v haproxy >/dev/null || die "haproxy not installed (scripts/deps.sh test)"
    [ -x "$pgbin/initdb" ] || die "PostgreSQL 15 not installed (scripts/deps.sh test)"
    stop_cluster
    mkdir -p "$dir/pg"
    touch "$dir/.fis-cluster"
    local servers=${FIS_CLUSTER_SERVERS:-2}
    local pgport balancer
    pgport=$(free_port)
    balancer=$(free_port)

    # PostgreSQL: trust on loopback, owner role "fis", no fsync (throw-away data).
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir/pg"
    pg initdb -D "$dir/pg/data" -U fis -A trust -E UTF8 --locale=C --no-sync >"$dir/pg/initdb.log" 2>&1 ||
        die "initdb failed (see $dir/pg/initdb.log)"
    pg pg_ctl -D "$dir/pg/data" -l "$dir/pg/pg.log" -w -o \
        "-p $pgport -k $dir/pg -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=200" \
        start >/dev/null || die "PostgreSQL did not start (see $dir/pg/pg.log)"
    pg createdb -h 127.0.0.1 -p "$pgport" -U fis fis || die "createdb failed"

    head -c 24 /dev/urandom | base64 | tr -d '/+=' >"$dir/token"
    chmod 600 "$dir/token"
    FIS_CLUSTER_DATABASE="postgresql://fis@127.0.0.1:$pgport/fis"
    local ports=()
    for i in $(seq 1 "$servers"); do ports+=("$(free_port)"); done
    {
        echo "FIS_CLUSTER_PORT=$balancer"
        echo "FIS_CLUSTER_DATABASE=$FIS_CLUSTER_DATABASE"
        echo "FIS_APPSERVER_TOKEN=$(cat "$dir/token")"
        echo "FIS_CLUSTER_SERVERS=$servers"
        echo "FIS_CLUSTER_PG_PORT=$pgport"
        echo "FIS_CLUSTER_SERVER_PORTS=\"${ports[*]}\""
    } >"$dir/cluster.env"

    # The schema and the demo data, once, before the servers share the database.
    "$bin/fis-appserver" --listen 127.0.0.1:0 --database "$FIS_CLUSTER_DATABASE" \
        --demo-data "${FIS_DEMO_DATA:-20000}" >"$dir/setup.out" 2>"$dir/setup.log" &
    local setup=$!
    for _ in $(seq 1 1200); do
        grep -q "listening on" "$dir/setup.out" 2>/dev/null && break
        kill -0 "$setup" 2>/dev/null || break
        sleep 0.1
    done
    grep -q "listening on" "$dir/setup.out" 2>/dev/null || die "demo data failed (see $dir/setup.log)"
    kill -TERM "$setup"
    wait "$setup" || true

    # Supervisors run detached, their output in files (nothing holds the caller's terminal).
    for i in $(seq 1 "$servers"); do
        supervise "$i" "${ports[$((i - 1))]}" </dev/null >/dev/null 2>&1 &
        echo $! >"$dir/supervisor$i.pid"
    done
    for i in $(seq 1 "$servers"); do
        wait_port "${ports[$((i - 1))]}" 300 || die "server $i did not start (see $dir/server$i.log)"
    done

    # HAProxy: the deployment's configuration with this cluster's addresses.
    {
        grep -v -e '^\s*server ' deploy/haproxy.cfg |
            sed -e "s/^\(\s*\)bind .*/\1bind 127.0.0.1:$balancer/" \
                -e "s|log /dev/log|log stderr format iso|"
        for i in $(seq 1 "$servers"); do
            echo "    server app$i 127.0.0.1:${ports[$((i - 1))]} check"
        done
    } >"$dir/haproxy.cfg"
    # In the foreground, detached: its log (servers going down and up) goes to haproxy.log.
    haproxy -db -f "$dir/haproxy.cfg" </dev/null >"$dir/haproxy.log" 2>&1 &
    echo $! >"$dir/haproxy.pid"
    wait_port "$balancer" 100 || die "haproxy does not listen on $balancer (see $dir/haproxy.log)"
    # Ready once the balancer sees every server healthy: a call through it succeeds.
    for _ in $(seq 1 100); do
        command -v curl >/dev/null || break
        curl -fsS -o /dev/null "http://127.0.0.1:$balancer/health" 2>/dev/null && break
        sleep 0.1
    done
    echo "Cluster: balancer 127.0.0.1:$balancer -> servers ${ports[*]} on $FIS_CLUSTER_DATABASE"
    echo "Data and logs: $dir"
}

cmd=${1:-}
case "$cmd" in
start) start_cluster ;;
stop) stop_cluster ;;
env)
    load_env
    cat "$dir/cluster.env"
    ;;
status)
    load_env
    echo "balancer 127.0.0.1:$FIS_CLUSTER_PORT: $(alive "$dir/haproxy.pid" && echo running || echo stopped)"
    i=0
    for p in $FIS_CLUSTER_SERVER_PORTS; do
        i=$((i + 1))
        echo "server $i 127.0.0.1:$p: $(alive "$dir/server$i.pid" && echo "running (pid $(cat "$dir/server$i.pid"))" || echo stopped)"
    done
    echo "PostgreSQL $FIS_CLUSTER_DATABASE: $(pg pg_ctl -D "$dir/pg/data" status >/dev/null 2>&1 && echo running || echo stopped)"
    ;;
kill)
    load_env
    i=${2:-1}
    [ -f "$dir/server$i.pid" ] || die "no server $i"
    kill -KILL "$(cat "$dir/server$i.pid")"
    ;;
restart-db)
    load_env
    pg pg_ctl -D "$dir/pg/data" -l "$dir/pg/pg.log" -m fast -w restart >/dev/null || die "PostgreSQL did not restart"
    ;;
*)
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
    [ -z "$cmd" ] && exit 0
    exit 2
    ;;
esac
