#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Whole discs and many files with both cores: sondrel-cli beside a shell pipeline that reads each track with
# cd-paranoia and then encodes with two encoders at once (xargs -P2), on the same disc image:
#   a 12-track disc (about 50 minutes) to MP3 and to Ogg Vorbis, with the CPU use of ours;
#   12 WAVs to MP3 with convert, beside xargs -P2 lame;
#   a 99-track disc of 4-second tracks to Ogg Vorbis;
#   the 12-track disc to Ogg through the drive component with paranoia (--paranoia), beside cd-paranoia in
#   its full paranoia mode.
# Our default settings: MP3 -b 128 -m j, Ogg quality 0.2 (oggenc -q 2); Encoders at once = the cores.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home"
runs=${RUNS:-3}
images="$work/home/Ombrel/Sondrel/Disc images"
mkdir -p "$images"

tracks=()
for i in $(seq 1 12); do tracks+=("04:1$((i % 10)):00,music"); done
"$build/bin/sondrel-mkdisc" -o "$work/twelve.cue" "${tracks[@]}" >/dev/null
short=()
for i in $(seq 1 99); do short+=("300,music"); done
"$build/bin/sondrel-mkdisc" -o "$work/short.cue" "${short[@]}" >/dev/null

# pipeline CUE COUNT ENCODER...: cd-paranoia per track, then the encoder on two files at a time.
pipeline() {
    local cue=$1 count=$2
    shift 2
    rm -rf "$work/peer" && mkdir -p "$work/peer"
    # READMODE: -Z (paranoia off) unless the caller asks for full paranoia.
    for t in $(seq 1 "$count"); do
        cd-paranoia -q -d "$cue" "${READMODE:--Z}" -w "$t" "$work/peer/$(printf %02d "$t").wav"
    done
    ls "$work/peer"/*.wav | xargs -P2 -I{} "$@" {}
}
export -f pipeline
export work READMODE

# ours CUE FORMAT [OPTION]: prints "seconds cpu%" of the median of $runs runs of a whole-disc rip.
ours() {
    cp "$1" "${1%.cue}.bin" "$images/"
    for _ in $(seq "$runs"); do
        rm -rf "$work/ours"
        /usr/bin/time -f '%e %P' "$build/bin/sondrel-cli" rip -f "$2" -o "$work/ours" --quiet --lookup none ${3:+"$3"} 2>&1 \
            >/dev/null | tail -1
    done | sort -g | awk '{ t[NR] = $0 } END { print t[int((NR + 1) / 2)] }'
    rm -f "$images"/*
}
peer() { # CUE COUNT ENCODER...
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s.%N)
        pipeline "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END { printf "%.3f\n", t[int((NR + 1) / 2)] }'
}

for format in mp3 ogg; do
    read -r secs cpu < <(ours "$work/twelve.cue" $format)
    if [ $format = mp3 ]; then
        theirs=$(peer "$work/twelve.cue" 12 sh -c 'lame --quiet -b 128 -m j "$0" "${0%.wav}.mp3"')
    else
        theirs=$(peer "$work/twelve.cue" 12 oggenc -Q -q 2)
    fi
    report "12 tracks (50 min) to $format, CPU $cpu" "$secs" "$theirs" "cd-paranoia + 2 encoders"
done

read -r secs cpu < <(ours "$work/twelve.cue" ogg --paranoia)
theirs=$(READMODE=-q peer "$work/twelve.cue" 12 oggenc -Q -q 2)
report "12 tracks to ogg with paranoia, CPU $cpu" "$secs" "$theirs" "cd-paranoia (paranoia) + 2 oggenc"

read -r secs cpu < <(ours "$work/short.cue" ogg)
theirs=$(peer "$work/short.cue" 99 oggenc -Q -q 2)
report "99 x 4 s tracks to ogg, CPU $cpu" "$secs" "$theirs" "cd-paranoia + 2 oggenc"

# 12 WAVs to MP3.
mkdir -p "$work/wavs"
for i in $(seq -w 1 12); do sox -n -r 44100 -c 2 -b 16 "$work/wavs/$i.wav" synth 240 sine 100-8000 sine 440 gain -n -1; done
ourtimes=()
for _ in $(seq "$runs"); do
    rm -rf "$work/conv" && mkdir -p "$work/conv"
    start=$(date +%s.%N)
    "$build/bin/sondrel-cli" convert wav2mp3 "$work/wavs"/*.wav -o "$work/conv" --quiet --overwrite >/dev/null 2>&1
    end=$(date +%s.%N)
    ourtimes+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
done
secs=$(printf '%s\n' "${ourtimes[@]}" | sort -g | awk '{ t[NR] = $1 } END { printf "%.3f\n", t[int((NR + 1) / 2)] }')
peertimes=()
for _ in $(seq "$runs"); do
    rm -f "$work/wavs"/*.mp3
    start=$(date +%s.%N)
    ls "$work/wavs"/*.wav | xargs -P2 -I{} sh -c 'lame --quiet -b 128 -m j "$0" "${0%.wav}.mp3"' {}
    end=$(date +%s.%N)
    peertimes+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
done
theirs=$(printf '%s\n' "${peertimes[@]}" | sort -g | awk '{ t[NR] = $1 } END { printf "%.3f\n", t[int((NR + 1) / 2)] }')
report "12 WAVs (48 min) to mp3" "$secs" "$theirs" "xargs -P2 lame"
