#!/usr/bin/env bash
# Checks run.sh itself: the scenario gets a live server and the database file, its exit code comes
# back unchanged, and afterwards no server listens and the temporary directory is gone.
#
#   run_test.sh APPSERVER DEMODB
#
# Run by ctest as scenario.e2e_runner_cleans_up. In place of fis-scenario it runs itself with
# "--stub", which records what it was given and fails with code 7.
set -uo pipefail

if [ "${1:-}" = "--stub" ]; then
    # --stub SCRIPT --server HOST:PORT --database FILE --timeout S
    out=$FIS_E2E_STUB_OUT
    server=$4
    db=$6
    {
        echo "server=$server"
        echo "database=$db"
        if (exec 3<>"/dev/tcp/${server%:*}/${server##*:}") 2>/dev/null; then
            echo "listening=yes"
        else
            echo "listening=no"
        fi
        [ -s "$db" ] && echo "database-made=yes" || echo "database-made=no"
    } >"$out"
    exit 7
fi

here=$(cd "$(dirname "$0")" && pwd)
self="$here/run_test.sh"
stub_dir=$(mktemp -d "${TMPDIR:-/tmp}/fis-e2e-test.XXXXXX") || exit 2
trap 'rm -rf "$stub_dir"' EXIT
stub="$stub_dir/scenario"
printf '#!/usr/bin/env bash\nexec bash %q --stub "$@"\n' "$self" >"$stub"
chmod +x "$stub"
export FIS_E2E_STUB_OUT="$stub_dir/seen"

failures=0
check() {
    if [ "$2" != "$3" ]; then
        echo "FAILED: $1: expected '$3', found '$2'"
        failures=$((failures + 1))
    fi
}

bash "$here/run.sh" "$1" "$2" "$stub" "$here/company_and_parameters.fis" 30 >/dev/null 2>&1
check "exit code of the scenario passed on" "$?" 7
seen() { sed -n "s/^$1=//p" "$FIS_E2E_STUB_OUT" 2>/dev/null; }
server=$(seen server)
db=$(seen database)
check "the scenario was given a loopback server" "${server%:*}" 127.0.0.1
check "the server answered while the scenario ran" "$(seen listening)" yes
check "the demo database was there for the scenario" "$(seen database-made)" yes
if [ -n "$server" ] && (exec 3<>"/dev/tcp/${server%:*}/${server##*:}") 2>/dev/null; then
    check "server stopped afterwards" "still listening on $server" "stopped"
fi
if [ -n "$db" ] && [ -e "$(dirname "$db")" ]; then
    check "temporary directory removed" "$(dirname "$db") still there" "removed"
fi

# A set-up that cannot be made (the demo database tool fails) is exit code 2, and the scenario
# never runs.
rm -f "$FIS_E2E_STUB_OUT"
bash "$here/run.sh" "$1" /bin/false "$stub" "$here/company_and_parameters.fis" 30 >/dev/null 2>&1
check "exit code of a failed set-up" "$?" 2
check "the scenario did not run" "$([ -e "$FIS_E2E_STUB_OUT" ] && echo ran || echo not-run)" \
    not-run

[ $failures -eq 0 ] && echo "run.sh: every check held"
exit $((failures > 0))
