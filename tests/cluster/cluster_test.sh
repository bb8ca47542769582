#!/usr/bin/env bash
# Many clerks, observed from outside:
#  1. the invariant checker on SQLite: a clerks' mix straight against one server passes it, and
#     a posting removed, an audit row too many or an emission the client was told about but
#     not in the database are each reported;
#  2. the cluster (PostgreSQL, two servers, HAProxy): a short mix with server 1 SIGKILLed once;
#     the clerks see transport errors only, the server comes back, and the invariants hold,
#     every emission the clerks were told succeeded included.
# Usage: cluster_test.sh BUILD_DIR   (exit 77: skipped)
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
bin=$build/bin
work=$(mktemp -d /tmp/fis-cluster-test-XXXXXX)
chmod 755 "$work"
export FIS_BUILD_DIR=$build FIS_CLUSTER_DIR=$work/cluster FIS_DEMO_DATA=3000 FIS_CLUSTER_THREADS=4
export QT_QPA_PLATFORM=offscreen
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    "$src/scripts/cluster.sh" stop >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FALHOU: $*"
    failures=$((failures + 1))
}
# expect_violation NAME TEXT ARGS...: fis-invariants ARGS exits 1 and names TEXT.
expect_violation() {
    local name=$1 text=$2
    shift 2
    local out rc=0
    out=$("$bin/fis-invariants" "$@" 2>&1) || rc=$?
    if [ "$rc" -ne 1 ] || ! grep -q -- "VIOLAÇÃO $text" <<<"$out"; then
        fail "$name: esperada a violação \"$text\" (saída $rc)"
        echo "$out"
    fi
}
for exe in fis-appserver fis-invariants cluster_bench; do
    [ -x "$bin/$exe" ] || { echo "SKIP: $bin/$exe not built"; exit 77; }
done

# ---- 1. the checker, on SQLite --------------------------------------------------------------
db=$work/one.sqlite
"$bin/fis-appserver" --listen 127.0.0.1:0 --database "$db" --demo-data 1500 --threads 4 \
    >"$work/one.out" 2>"$work/one.log" &
server_pid=$!
port=""
for _ in $(seq 1 300); do
    port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]\+\).*/\1/p' "$work/one.out" | head -n1)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { cat "$work/one.log"; fail "o servidor SQLite não subiu"; exit 1; }
"$bin/cluster_bench" --port "$port" --clerks 3 --seconds 3 --database "$db" \
    --told "$work/one.told" >"$work/one.bench" 2>&1 ||
    { cat "$work/one.bench"; fail "a carga direta no SQLite não passou nas invariantes"; }
kill -TERM "$server_pid"
wait "$server_pid"
server_pid=""
[ -s "$work/one.told" ] || fail "nenhuma emissão confirmada na carga do SQLite"
"$bin/fis-invariants" --database "$db" --told "$work/one.told" >/dev/null ||
    fail "fis-invariants recusou um banco íntegro"
cp "$db" "$work/broken.sqlite"
# Damage a copy of the database with whatever SQLite client there is.
sqlite3_exec() {
    if command -v sqlite3 >/dev/null; then
        sqlite3 "$1" "$2"
    else
        python3 -c "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); c.executescript(sys.argv[2]); c.commit()" "$1" "$2"
    fi
}
sqlite3_exec "$work/broken.sqlite" \
    "DELETE FROM LANCCONTABIL WHERE NRLANCCONTABIL = (SELECT MIN(NRLANCCONTABIL) FROM LANCCONTABIL);
     INSERT INTO AUDITORIA (DTHORA, NMOPERADOR, DSOPERACAO, DSCHAVE, DSDETALHE)
       VALUES ('2026-01-01 00:00:00', 'x', 'EMISSAO_GUIA', '_0001__1_', '1 guia(s) de S');"
expect_violation "lançamento apagado" "contas a pagar sem um débito e um crédito" \
    --database "$work/broken.sqlite"
expect_violation "auditoria a mais" "a auditoria registra" --database "$work/broken.sqlite"
printf '0001;999999\n' >>"$work/one.told"
expect_violation "emissão confirmada perdida" "emissões confirmadas ao cliente" \
    --database "$db" --told "$work/one.told"

# ---- 2. the cluster, one server killed --------------------------------------------------------
if ! command -v haproxy >/dev/null || [ ! -x /usr/lib/postgresql/15/bin/initdb ] ||
    { [ "$(id -u)" -eq 0 ] && ! id postgres >/dev/null 2>&1; }; then
    echo "SKIP: the cluster needs haproxy and PostgreSQL 15 (scripts/deps.sh test)"
    [ "$failures" -eq 0 ] && exit 77
    exit 1
fi
"$src/scripts/cluster.sh" start >"$work/start.log" 2>&1 ||
    { cat "$work/start.log"; fail "o cluster não subiu"; exit 1; }
eval "$("$src/scripts/cluster.sh" env)"
"$bin/cluster_bench" --port "$FIS_CLUSTER_PORT" --token "$FIS_APPSERVER_TOKEN" --clerks 6 --seconds 8 --fault-every 4 \
    --fault "$src/scripts/cluster.sh kill 1" --database "$FIS_CLUSTER_DATABASE" \
    --told "$work/cluster.told" >"$work/cluster.bench" 2>&1
rc=$?
cat "$work/cluster.bench"
[ "$rc" -eq 0 ] || fail "a carga no cluster terminou com $rc (violação ou banco inacessível)"
grep -q "^invariantes: ok" "$work/cluster.bench" || fail "invariantes não verificadas como ok"
[ -s "$work/cluster.told" ] || fail "nenhuma emissão confirmada no cluster"
# What clerks may see: transport errors (the call on the killed server) and business refusals.
if grep -E '^ +[0-9]+  ' "$work/cluster.bench" | grep -v -e ': transporte: ' -e ': recusa: ' |
    grep -q .; then
    fail "erros que não são de transporte nem recusas"
fi
grep -q "restarting" "$FIS_CLUSTER_DIR/server1.log" || fail "o servidor 1 não foi reiniciado"
status=$("$src/scripts/cluster.sh" status)
grep -q "^server 1 .*running" <<<"$status" || fail "o servidor 1 não voltou: $status"
"$bin/fis-invariants" --database "$FIS_CLUSTER_DATABASE" --told "$work/cluster.told" ||
    fail "fis-invariants no PostgreSQL"

[ "$failures" -eq 0 ] && echo "ok"
[ "$failures" -eq 0 ]
