#!/usr/bin/env bash
# Takes the pictures of docs/ again: drives the real screens with fis-scenario on a private
# virtual X display (Xvfb), as a clerk sees them, and saves what the display shows.
#
# Usage: scripts/screenshots.sh [OUTPUT_DIR]    (default: docs)
# Environment: FIS_BUILD_DIR (default build). Needs xvfb-run, and python3 for the picture of a
# server that does not answer (skipped without it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bin=$(realpath -m "${FIS_BUILD_DIR:-build}/bin")
size=1280x800

if [ "${1:-}" != --inside ]; then
    out=$(realpath -m "${1:-docs}")
    for program in fis-scenario fis-screenshot; do
        [ -x "$bin/$program" ] || { echo "screenshots.sh: build $program first ($bin)"; exit 2; }
    done
    command -v xvfb-run >/dev/null || { echo "screenshots.sh: xvfb-run is missing"; exit 2; }
    mkdir -p "$out"
    exec xvfb-run -a -s "-screen 0 ${size}x24 -nolisten tcp" "$0" --inside "$out"
fi
out=$2
export QT_QPA_PLATFORM=xcb FIS_SCREENSHOT_DIR="$out"
scripts="$root/scripts/screenshots"

for script in exits entries; do
    echo "screenshots.sh: $script"
    "$bin/fis-scenario" "$scripts/$script.fis" >"$out/$script.log" 2>&1 ||
        { cat "$out/$script.log"; exit 1; }
    rm -f "$out/$script.log"
done

# The progress window while the server keeps silent: taken from outside the program, which is
# blocked in the call meanwhile.
if command -v python3 >/dev/null; then
    echo "screenshots.sh: progress"
    port_file=$(mktemp)
    python3 - "$port_file" <<'PY' &
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(4)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
held, end = [], time.time() + 6
s.settimeout(0.2)
while time.time() < end:
    try:
        held.append(s.accept()[0])
    except socket.timeout:
        pass
for c in held:
    c.close()  # the call ends with a transport failure
PY
    silent=$!
    for _ in $(seq 1 50); do [ -s "$port_file" ] && break; sleep 0.1; done
    log="$out/progress.log"
    "$bin/fis-scenario" "$scripts/progress.fis" --server "127.0.0.1:$(cat "$port_file")" \
        >"$log" 2>&1 &
    scenario=$!
    for _ in $(seq 1 100); do grep -qs "waiting for the server" "$log" && break; sleep 0.1; done
    sleep 2
    "$bin/fis-screenshot" "$out/screenshot-progress.png"
    wait "$scenario" || { cat "$log"; exit 1; }
    wait "$silent" || true
    rm -f "$port_file" "$log"
else
    echo "screenshots.sh: python3 is missing: no picture of the progress window"
fi
echo "screenshots.sh: pictures in $out"
