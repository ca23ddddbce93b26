#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# TVorbisOut encoding a 10-minute 16-bit stereo WAV at Compression 0.2, beside oggenc -q 2 on the same file.
# Both use the same codec library, so the pipeline should add almost nothing.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 600 sine 100-8000 sine 440 gain -n -1
ours=$(best_time "$work/ours.ogg" "$build/bin/bench_audio" ogg "$work/in.wav" "$work/ours.ogg")
peer=$(best_time "$work/peer.ogg" oggenc -Q -q 2 -o "$work/peer.ogg" "$work/in.wav")
report "10 min WAV to Ogg Vorbis" "$ours" "$peer" "oggenc -q 2"
