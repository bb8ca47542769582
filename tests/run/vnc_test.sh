#!/usr/bin/env bash
# vnc_test.sh SOURCE_DIR BIN_DIR
# Runs scripts/start.sh as ./run does on a machine without a display, with the host pointed at a
# server that accepts calls and never answers, and checks from outside:
#   - the VNC port listens on loopback only (ss -ltn);
#   - the VNC server asks for a password (VNC authentication, never "None");
#   - it answers a new viewer while the host is blocked in a call;
#   - the password printed is the one that run's password file holds, and it is new every run;
#   - stopping the script stops the VNC server and the display.
# Exit 0 when every check held, 1 on the first failure, 77 (skipped) without Xvfb or x11vnc.
set -uo pipefail
src=$1
bin=$2
say() { echo "vnc_test.sh: $*"; }
fail() {
    say "FAILED: $*"
    [ -f "$work/start.log" ] && sed 's/^/  start.sh: /' "$work/start.log"
    exit 1
}
for tool in Xvfb x11vnc xauth ss python3; do
    command -v "$tool" >/dev/null || { say "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
start_pid=""
hung_pid=""
cleanup() {
    [ -n "$start_pid" ] && kill -TERM "$start_pid" 2>/dev/null && wait "$start_pid" 2>/dev/null
    [ -n "$hung_pid" ] && kill -TERM "$hung_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A server that takes the connection and never answers.
python3 - "$work/hung.port" <<'PY' &
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(8)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
held = []
while True:
    c, _ = s.accept()
    held.append(c)
PY
hung_pid=$!
for _ in $(seq 1 50); do [ -s "$work/hung.port" ] && break; sleep 0.1; done
hung_port=$(cat "$work/hung.port" 2>/dev/null) || fail "the silent server did not start"

# The build as start.sh sees it: the programs, and a var/ folder of this run only.
mkdir -p "$work/build"
ln -s "$bin" "$work/build/bin"
run_start() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM FIS_BUILD_DIR="$work/build" \
        FIS_DEMO_DATA=20 FIS_VNC_PORT=5971 \
        bash "$src/scripts/start.sh" --server-port "$hung_port" --call-timeout 60 \
        >"$work/start.log" 2>&1 &
    start_pid=$!
    for _ in $(seq 1 300); do
        grep -q "VNC password for this run:" "$work/start.log" 2>/dev/null && return 0
        kill -0 "$start_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
run_start || fail "start.sh did not serve the display"
port=$(sed -n 's/.*served over VNC on 127\.0\.0\.1:\([0-9]\+\).*/\1/p' "$work/start.log")
secret=$(sed -n 's/^VNC password for this run: //p' "$work/start.log")
[ -n "$port" ] && [ -n "$secret" ] || fail "no port or password printed"

# 1. Loopback only.
sockets=$(ss -ltnH "sport = :$port" | awk '{print $4}')
[ -n "$sockets" ] || fail "nothing listens on port $port"
for address in $sockets; do
    case $address in
    127.0.0.1:$port | "[::1]:$port") ;;
    *) fail "port $port listens on $address, not only on loopback" ;;
    esac
done
say "port $port listens on: $sockets"

# 2 and 3. A viewer's handshake, while the host waits on the silent server (its screen asks
# the server for the fiscal parameters when it opens): the version, then the security types.
sleep 2
exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "cannot connect to port $port"
greeting=$(timeout 5 head -c 12 <&3) || fail "no greeting from the VNC server within 5 s"
[[ $greeting == "RFB 003."* ]] || fail "not a VNC greeting: '$greeting'"
printf 'RFB 003.008\n' >&3
types=$(timeout 5 head -c 1 <&3 | od -An -tu1 | tr -d ' ')
[ -n "$types" ] && [ "$types" -gt 0 ] || fail "the VNC server offers no security type"
offered=$(timeout 5 head -c "$types" <&3 | od -An -tu1 | xargs)
exec 3>&-
say "security types offered: $offered"
for t in $offered; do
    [ "$t" = 1 ] && fail "the VNC server lets a viewer in without a password (type None)"
done
[[ " $offered " == *" 2 "* ]] || fail "VNC password authentication (type 2) not offered"
grep -q "fis-host" <(ps -o comm= --ppid "$start_pid") || fail "the host is not running"

# 4. The password file of this run holds the printed password (x11vnc shows what it stored).
passfile=$(ls "$work/build/var"/vnc-passwd.* 2>/dev/null | head -n1)
[ -n "$passfile" ] || fail "no password file for this run"
[ "$(stat -c %a "$passfile")" = 600 ] || fail "the password file is readable by others"
[ "$(x11vnc -showrfbauth "$passfile" 2>/dev/null | sed -n 's/.*pass: //p')" = "$secret" ] ||
    fail "the password printed is not the one the VNC server uses"

# 5. Stopping ./run stops the VNC server and the display, and removes the secrets.
kill -TERM "$start_pid"
wait "$start_pid" 2>/dev/null
start_pid=""
sleep 1
ss -ltnH "sport = :$port" | grep -q . && fail "port $port still listens after the stop"
ls "$work/build/var"/vnc-passwd.* "$work/build/var"/xauthority.* >/dev/null 2>&1 &&
    fail "the password or the display's key is left behind"

# A second run makes a new password.
run_start || fail "start.sh did not serve the display the second time"
second=$(sed -n 's/^VNC password for this run: //p' "$work/start.log")
[ -n "$second" ] && [ "$second" != "$secret" ] || fail "the password is not new for each run"
say "every check held"
