#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# TFastResampler (the fast filter) from 44100 Hz to 48000 Hz and to 22050 Hz on a 10-minute 16-bit stereo signal, file to file
# through the audio framework, beside sox's quick rate converter on the same file; and the peak memory for a
# 1-minute and a 10-minute input, which should be the same.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 600 sine 100-8000 sine 440 gain -n -1
sox -n -r 44100 -c 2 -b 16 "$work/short.wav" synth 60 sine 100-8000 sine 440 gain -n -1
for rate in 48000 22050; do
    ours=$(best_time "$work/ours.wav" "$build/bin/bench_audio" resample "$work/in.wav" "$work/ours.wav" $rate)
    peer=$(best_time "$work/peer.wav" sox "$work/in.wav" -r $rate "$work/peer.wav" rate -q)
    report "10 min 44100 -> $rate Hz" "$ours" "$peer" "sox rate -q"
done
long=$("$build/bin/bench_audio" resample "$work/in.wav" "$work/ours.wav" 48000 | awk '{print $2}')
short=$("$build/bin/bench_audio" resample "$work/short.wav" "$work/ours.wav" 48000 | awk '{print $2}')
echo "peak memory: 1-minute input ${short} KB, 10-minute input ${long} KB"
# The high-quality resampler (libsoxr, very high quality) through sondrel-cli resample, beside sox's own very
# high quality rate converter.
mkdir -p "$work/home"
export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home"
ours=$(best_time "$work/ours.wav" "$build/bin/sondrel-cli" resample "$work/in.wav" "$work/ours.wav" --rate 48000 \
    --channels 2 --bits 16 --quality high)
peer=$(best_time "$work/peer.wav" sox "$work/in.wav" -r 48000 "$work/peer.wav" rate -v)
report "10 min 44100 -> 48000 Hz, high quality" "$ours" "$peer" "sox rate -v"
