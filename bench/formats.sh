#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Conversions of any input and several formats in one rip, beside the field's own tools two at a time:
#   12 FLAC files (about 48 minutes) to Opus, beside opusenc (xargs -P2);
#   the same to MP3, beside flac -d -c | lame - (xargs -P2);
#   a tree of 200 short FLAC files to MP3 with -r, then again with --update and nothing changed;
#   a 12-track disc to FLAC, MP3 and Opus in one rip, beside cd-paranoia reading once and then flac, lame
#   and opusenc two at a time.
# Our settings as the peers': Opus 160 kbit/s, MP3 -b 128 -m j, FLAC level 5; no ReplayGain; two encoders.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home"
runs=${RUNS:-3}
images="$work/home/Ombrel/Sondrel/Disc images"
mkdir -p "$images" "$work/home/Ombrel/Sondrel"
printf '[CommonOptions]\nEncodersAtOnce=2\nReplayGain=0\n' >"$work/home/Ombrel/Sondrel/options.ini"
export work

# median CMD...: the median wall-clock seconds of $runs runs (the output folders are emptied before each).
median() {
    for _ in $(seq "$runs"); do
        rm -rf "$work/ours" "$work/peer" && mkdir -p "$work/peer"
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
    done | sort -g | awk '{ t[NR] = $1 } END { printf "%.3f\n", t[int((NR + 1) / 2)] }'
}

# Twelve 4-minute FLAC files from a disc image's tracks.
tracks=()
for i in $(seq 1 12); do tracks+=("04:0$((i % 10)):00,music"); done
"$build/bin/sondrel-mkdisc" -o "$work/twelve.cue" "${tracks[@]}" >/dev/null
mkdir -p "$work/flac"
for t in $(seq 1 12); do
    cd-paranoia -q -d "$work/twelve.cue" -Z -w "$t" "$work/t.wav" 2>/dev/null
    flac -s -f -o "$work/flac/$(printf %02d "$t").flac" "$work/t.wav"
done
rm -f "$work/t.wav"

ours=$(median "$build/bin/sondrel-cli" convert -f opus "$work"/flac/*.flac -o "$work/ours")
peer=$(median sh -c 'ls "$work"/flac/*.flac | xargs -P2 -I{} sh -c '\''opusenc --quiet --bitrate 160 "$1" "$work/peer/$(basename "$1" .flac).opus"'\'' _ {}')
report "12 FLAC (48 min) to Opus" "$ours" "$peer" "opusenc -P2"
ours=$(median "$build/bin/sondrel-cli" convert -f mp3 "$work"/flac/*.flac -o "$work/ours")
peer=$(median sh -c 'ls "$work"/flac/*.flac | xargs -P2 -I{} sh -c '\''flac -s -d -c "$1" | lame --quiet -b 128 -m j - "$work/peer/$(basename "$1" .flac).mp3"'\'' _ {}')
report "12 FLAC (48 min) to MP3" "$ours" "$peer" "flac|lame -P2"

# A library of 200 short FLAC files in 20 folders, to MP3 and then kept in step with nothing changed.
sox -n -r 44100 -b 16 -c 2 "$work/short.wav" synth 5 pinknoise vol 0.3
flac -s -f -o "$work/short.flac" "$work/short.wav"
for a in $(seq 1 20); do
    mkdir -p "$work/library/Album $a"
    for t in $(seq 1 10); do cp "$work/short.flac" "$work/library/Album $a/Track $t.flac"; done
done
start=$(date +%s.%N)
"$build/bin/sondrel-cli" convert -f mp3 -r "$work/library" -o "$work/phone" --quiet >/dev/null 2>&1
first=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
start=$(date +%s.%N)
"$build/bin/sondrel-cli" convert -f mp3 -r "$work/library" -o "$work/phone" --update --quiet >/dev/null 2>&1
again=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
report "200 FLAC tree, --update with nothing new" "$again" "$first" "the first run"

# One read, three formats.
cp "$work/twelve.cue" "$work/twelve.bin" "$images/"
ours=$(median "$build/bin/sondrel-cli" rip -f flac,mp3,opus -o "$work/ours" --quiet --lookup none)
threeformats() {
    for t in $(seq 1 12); do cd-paranoia -q -d "$work/twelve.cue" -Z -w "$t" "$work/peer/$(printf %02d "$t").wav" 2>/dev/null; done
    ls "$work"/peer/*.wav | xargs -P2 -I{} sh -c 'flac -s -f "$1" && lame --quiet -b 128 -m j "$1" "${1%.wav}.mp3" && opusenc --quiet --bitrate 160 "$1" "${1%.wav}.opus"' _ {}
}
export -f threeformats
peer=$(median bash -c threeformats)
report "12-track disc to FLAC+MP3+Opus" "$ours" "$peer" "cd-paranoia, then -P2"
