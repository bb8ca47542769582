#!/usr/bin/env bash
# Two clerks at once: stands in for fis-scenario under run.sh, which gives it the script, the
# server and the database:
#
#   FIS_SCENARIO=PATH two_clerks.sh SCRIPT --server HOST:PORT --database FILE --timeout N
#
# runs the real fis-scenario on SCRIPT twice at the same moment, as two clerks on two machines,
# against the one server. Both runs must pass (the script's expectations hold whoever wins), and
# their transcripts must tell that one clerk emitted without a message while the other was shown
# the server's refusal (an invoice whose guide was emitted already).
set -uo pipefail
scenario=${FIS_SCENARIO:?"FIS_SCENARIO names the fis-scenario program"}
script=$1
shift
out=$(mktemp -d "${TMPDIR:-/tmp}/fis-clerks.XXXXXX") || exit 2
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    rm -rf "$out"
}
trap cleanup EXIT

for clerk in 1 2; do
    "$scenario" "$script" "$@" >"$out/clerk$clerk.txt" 2>&1 &
    pids+=($!)
done
status=0
for clerk in 1 2; do
    if ! wait "${pids[$((clerk - 1))]}"; then
        echo "two_clerks.sh: clerk $clerk failed:" >&2
        cat "$out/clerk$clerk.txt" >&2
        status=1
    fi
done
pids=()
[ $status -eq 0 ] || exit $status

# What each clerk was shown once the print was clicked.
shown() { sed -n '/click sbtPrint/,/clerk printed/p' "$out/clerk$1.txt" | grep -- '-> message error'; }
refused=0
clean=0
for clerk in 1 2; do
    messages=$(shown $clerk)
    if [ -z "$messages" ]; then
        clean=$((clean + 1))
        echo "clerk $clerk: emitted, no message"
    elif grep -q 'já foi emitida' <<<"$messages"; then
        refused=$((refused + 1))
        echo "clerk $clerk: refused: $messages"
    else
        echo "clerk $clerk: unexpected message: $messages"
    fi
done
if [ $clean -ne 1 ] || [ $refused -ne 1 ]; then
    echo "two_clerks.sh: expected one clerk to emit and one to be refused" >&2
    cat "$out/clerk1.txt" "$out/clerk2.txt" >&2
    exit 1
fi
echo "two_clerks.sh: one guide, one refusal"
