#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Sondrel in build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
# A machine without a CD drive gets a demo disc, so Sondrel shows a disc the first time it starts.
images="${XDG_DATA_HOME:-$HOME/.local/share}/Ombrel/Sondrel/Disc images"
if ! ls /dev/sr[0-9]* >/dev/null 2>&1 && ! ls "$images" 2>/dev/null | grep -qiE '\.(cue|toc|nrg)$'; then
    mkdir -p "$images"
    build/bin/sondrel-mkdisc -o "$images/Sondrel demo disc.cue" \
        00:12:00,music 00:27:30,music 00:08:15,music 00:19:40,music 00:31:05,music
    echo "Made a demo disc in $images"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found; start Sondrel under a virtual one with: xvfb-run -a build/bin/sondrel"
    exit 0
fi
exec build/bin/sondrel "$@"
