#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copying a 10-minute 16-bit stereo WAV through TWaveIn -> TWaveOut, beside sox copying it; and decoding a
# 10-minute IMA ADPCM WAV to PCM, beside sox doing the same.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 600 sine 100-8000 sine 440 gain -n -1
sox "$work/in.wav" -e ima-adpcm "$work/ima.wav"
ours=$(best_time "$work/ours.wav" "$build/bin/bench_audio" copy "$work/in.wav" "$work/ours.wav")
peer=$(best_time "$work/peer.wav" sox "$work/in.wav" "$work/peer.wav")
report "10 min PCM copy" "$ours" "$peer" "sox"
ours=$(best_time "$work/ours.wav" "$build/bin/bench_audio" copy "$work/ima.wav" "$work/ours.wav")
peer=$(best_time "$work/peer.wav" sox "$work/ima.wav" -e signed -b 16 "$work/peer.wav")
report "10 min IMA ADPCM to PCM" "$ours" "$peer" "sox"
