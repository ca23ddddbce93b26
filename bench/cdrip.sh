#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The CD read thread reading a whole 40-minute image (one track) to WAV, beside cd-paranoia -Z; and the CD
# input component with paranoia on feeding the WAV writer, beside cd-paranoia with its default paranoia.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
"$build/bin/sondrel-mkdisc" -o "$work/disc.cue" 40:00:00,music
ours=$(best_time "$work/ours.wav" "$build/bin/bench_audio" cdrip "$work/disc.cue" "$work/ours.wav")
peer=$(best_time "$work/peer.wav" cd-paranoia -d "$work/disc.cue" -Z -w 1 "$work/peer.wav")
cmp <(tail -c +45 "$work/ours.wav") <(tail -c +45 "$work/peer.wav") && echo "same audio"
report "40 min, CD read thread" "$ours" "$peer" "cd-paranoia -Z"
ours=$(best_time "$work/ours.wav" "$build/bin/bench_audio" cdin "$work/disc.cue" "$work/ours.wav" paranoia)
peer=$(best_time "$work/peer.wav" cd-paranoia -d "$work/disc.cue" -w 1 "$work/peer.wav")
cmp <(tail -c +45 "$work/ours.wav") <(tail -c +45 "$work/peer.wav") && echo "same audio"
report "40 min, CD input with paranoia" "$ours" "$peer" "cd-paranoia"
