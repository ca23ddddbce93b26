#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a command costs to start: 200 calls of `sondrel-cli tag show` on a small FLAC beside 200 of metaflac
# reading the same tags, and 200 of `sondrel-cli drives` (one disc image) beside 200 of cd-info on it.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home" QT_QPA_PLATFORM=offscreen
mkdir -p "$work/home/sondrel/Disc images"
sox -n -r 44100 -c 2 -b 16 "$work/a.wav" synth 1 sine 440
flac -s -f -T TITLE=Song -T ARTIST=Band -o "$work/a.flac" "$work/a.wav"
"$build/bin/sondrel-mkdisc" -o "$work/home/sondrel/Disc images/disc.cue" 750 750 >/dev/null
calls() { # calls N CMD...: the command N times
    local n=$1
    shift
    for _ in $(seq "$n"); do "$@" >/dev/null 2>&1 || true; done
}
ours=$(best_time "$work/none" calls 200 "$build/bin/sondrel-cli" tag show "$work/a.flac")
peer=$(best_time "$work/none" calls 200 metaflac --export-tags-to=- "$work/a.flac")
report "200 x tag show" "$ours" "$peer" "metaflac"
ours=$(best_time "$work/none" calls 200 "$build/bin/sondrel-cli" drives)
peer=$(best_time "$work/none" calls 200 cd-info --no-header --no-device-info -q \
    --cue-file "$work/home/sondrel/Disc images/disc.cue")
report "200 x drives" "$ours" "$peer" "cd-info"
