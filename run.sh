#!/usr/bin/env bash
# Installs what is missing, builds Sondrel in build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found; start Sondrel under a virtual one with: xvfb-run -a build/bin/sondrel"
    exit 0
fi
exec build/bin/sondrel "$@"
