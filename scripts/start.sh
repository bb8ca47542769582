#!/usr/bin/env bash
# Starts what the build produced. Never fails just because a piece is not built yet.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
if [ ! -x "$bin/fis-host" ]; then
    echo "Built so far (build/bin):"
    ls -1 "$bin" 2>/dev/null || true
    echo "The host application is not part of this build yet; nothing to start."
    exit 0
fi
exec "$bin/fis-host" "$@"
