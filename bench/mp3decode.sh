#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# MP3 to WAV of a 10-minute file through the command-line tool (decoded in process with libmpg123), beside
# mpg123 -w on the same file.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 600 sine 100-8000 sine 440 gain -n -1
lame --quiet -b 128 "$work/in.wav" "$work/in.mp3"
mkdir -p "$work/ours" "$work/home"
export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home"
ours=$(best_time "$work/ours/in.wav" "$build/bin/sondrel-cli" convert mp32wav "$work/in.mp3" -o "$work/ours" --quiet)
peer=$(best_time "$work/peer.wav" mpg123 -q -w "$work/peer.wav" "$work/in.mp3")
report "10 min MP3 to WAV" "$ours" "$peer" "mpg123 -w"
