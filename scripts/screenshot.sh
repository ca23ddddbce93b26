#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes docs/screenshot.png (the main window with a disc loaded) and docs/window-NAME.png for the tool
# windows, each in a real window under Xvfb, with a private home so that nothing of the user's own settings
# shows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 >/dev/null
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
images="$home/data/Ombrel/Sondrel/Disc images"
mkdir -p "$images" docs "$home/config/Ombrel/Sondrel"
# An output folder as a user would have it, not the private home's.
printf '[CommonOptions]\nOutputFolder=/home/you/Music/\n' > "$home/config/Ombrel/Sondrel/options.ini"
build/bin/sondrel-mkdisc -o "$images/Sondrel demo disc.cue" \
    00:12:00,music 00:27:30,music 00:08:15,music 00:19:40,music 00:31:05,music
shot() { # shot FILE [WINDOW]: in the language options.ini names
    env -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home" \
        SONDREL_SCREENSHOT="$PWD/docs/$1" SONDREL_SCREENSHOT_WINDOW="${2:-}" QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1024x768x24" build/bin/sondrel
    echo "Wrote docs/$1"
}
shot screenshot.png
for window in createm3u id3edit resample record oggplayer options; do
    shot "window-$window.png" "$window"
done
# The main window, the job window and the options in German.
mkdir -p "$home/Musik"
printf '[Options]\nLan=German\n[CommonOptions]\nOutputFolder=%s/Musik/\nOutputFormat=1\n' "$home" \
    > "$home/config/Ombrel/Sondrel/options.ini"
shot screenshot-de.png
shot window-rip-de.png rip
shot window-options-de.png options
