#!/usr/bin/env bash
# Takes the README's picture of the grid after an emission again: under Xvfb (a real X server,
# so the picture has the real style and fonts), the scenario scripts/screenshot_emission.fis runs
# against the application server over fresh demo data and saves docs/screenshot-emitted.png.
# Needs a build (./run or scripts/build.sh) and xvfb-run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${FIS_BIN:-$root/build/bin}
for program in fis-appserver fis-e2e-demodb fis-scenario; do
    [ -x "$bin/$program" ] || { echo "screenshot.sh: $bin/$program is missing: build first" >&2; exit 2; }
done
cd "$root/scripts"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
    bash "$root/tests/scenario/e2e/run.sh" "$bin/fis-appserver" "$bin/fis-e2e-demodb" \
    "$bin/fis-scenario" "$root/scripts/screenshot_emission.fis" 120
echo "screenshot.sh: $root/docs/screenshot-emitted.png"
