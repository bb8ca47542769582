#!/usr/bin/env bash
# Installs the Debian packages this project needs, when any is missing.
# Usage: scripts/deps.sh [run|cluster|test]   (cluster: PostgreSQL and HAProxy; test: all)
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql libgl-dev
    libcpp-httplib-dev libsqlite3-dev libpq-dev
    qt6-translations-l10n
    xvfb xauth x11vnc
)
if [ "${1:-run}" = cluster ] || [ "${1:-run}" = test ]; then
    packages+=(postgresql haproxy curl)
fi
if [ "${1:-run}" = test ]; then
    packages+=(googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev poppler-utils
               python3)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
