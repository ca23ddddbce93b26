#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# An installation under a prefix the build was not configured for (and under DESTDIR) works as it is: the
# programs find their shipped files relative to themselves, WM8EUTIL in libexec.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
DESTDIR="$work/dest" cmake --install "$build" --prefix /opt/sondrel >/dev/null
failed=0
# The layout is checked here, not leaks: a sanitizer build's leak report must not fail a started program.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
for root in "$work/prefix" "$work/dest/opt/sondrel"; do
    for file in bin/sondrel bin/sondrel-cli libexec/sondrel/WM8EUTIL share/sondrel/sondrel-manual.html \
        share/sondrel/CLan_English.ini share/sondrel/CLan_German.ini share/sondrel/CLan_French.ini share/sondrel/CLan_Spanish.ini \
        share/applications/io.github.ombrel.Sondrel.desktop share/man/man1/sondrel-cli.1.gz; do
        [ -e "$root/$file" ] || { echo "FAILED: $root/$file missing"; failed=1; }
    done
    [ ! -e "$root/bin/WM8EUTIL" ] || { echo "FAILED: WM8EUTIL in bin/"; failed=1; }
    # The installed tool runs, and finds WM8EUTIL in its libexec folder (a WAV becomes a WMA).
    export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home" QT_QPA_PLATFORM=offscreen
    "$root/bin/sondrel-cli" --version | grep -q '^sondrel-cli ' || { echo "FAILED: $root sondrel-cli --version"; failed=1; }
    sox -n -r 44100 -c 2 -b 16 "$work/a.wav" synth 1 sine 440
    rm -rf "$work/out"
    if ! "$root/bin/sondrel-cli" convert wav2wma "$work/a.wav" -o "$work/out" --quiet >/dev/null || [ ! -s "$work/out/a.wma" ]; then
        echo "FAILED: $root: WAV to WMA through the installed WM8EUTIL"
        failed=1
    fi
    # The installed GUI finds its manual: sondrel --manual-path is what F1 opens. Both questions are answered
    # without a display.
    version=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/sondrel" --version)
    [ "$(head -1 <<<"$version")" = "sondrel $2" ] || { echo "FAILED: sondrel --version said '$version'"; failed=1; }
    grep -q 'GPL-3.0-or-later' <<<"$version" || { echo "FAILED: sondrel --version names no licence"; failed=1; }
    env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/sondrel" --help | grep -q '^usage: sondrel ' ||
        { echo "FAILED: sondrel --help without a display"; failed=1; }
    manual=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/sondrel" --manual-path)
    [ "$manual" = "$root/share/sondrel/sondrel-manual.html" ] || { echo "FAILED: manual at '$manual'"; failed=1; }
done
exit $failed
