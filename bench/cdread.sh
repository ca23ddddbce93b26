#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Reading a whole 40-minute disc image through the CD access layer (blocks of 10 sectors) into a WAV file,
# beside cd-paranoia -Z reading the same image to a WAV file.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
"$build/bin/sondrel-mkdisc" -o "$work/disc.cue" 10:00:00,music 10:00:00,noise 10:00:00,tone 10:00:00,music
ours=$(best_time "$work/ours.wav" "$build/bin/bench_cdread" "$work/disc.cue" "$work/ours.wav")
peer=$(best_time "$work/peer.wav" cd-paranoia -d "$work/disc.cue" -Z -w 1-4 "$work/peer.wav")
cmp <(tail -c +45 "$work/ours.wav") <(tail -c +45 "$work/peer.wav") && echo "same audio"
report "40-minute image to WAV" "$ours" "$peer" "cd-paranoia -Z"
