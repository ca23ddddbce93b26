#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How cost grows with the work: the time and peak memory of one command as its work grows tenfold and more
# (files converted, tracks ripped, discs in the cache, files in a playlist, files in one `tag show`), with
# the cost of one item at each size. Flat rows (the same cost an item at every size, memory that does not
# follow the count) are the aim. Prints a Markdown table.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
use_home "$work"
cli="$build/bin/sondrel-cli"

# measure WHAT COUNT CMD...: the median time and the largest peak memory of $runs runs, as a table row.
measure() {
    local what=$1 count=$2
    shift 2
    local times=() peak=0
    for _ in $(seq "$runs"); do
        rm -rf "$work/out"
        mkdir -p "$work/out"
        local line
        line=$(/usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null </dev/null | tail -1) || { echo "failed: $*" >&2; exit 1; }
        times+=("${line% *}")
        if [ "${line#* }" -gt "$peak" ]; then peak=${line#* }; fi
    done
    local median
    median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
    awk -v w="$what" -v n="$count" -v t="$median" -v m="$peak" \
        'BEGIN { printf "| %s | %d | %.3f | %.2f | %d |\n", w, n, t, t * 1000 / n, m / 1024 }'
}

echo "| Work | Count | Seconds | ms an item | Peak MB |"
echo "|---|---|---|---|---|"

# Files converted (one-second WAVs to FLAC, in one call).
sox -n -r 44100 -c 2 -b 16 "$work/one.wav" synth 1 sine 440 2>/dev/null
for n in 1 10 100 1000; do
    mkdir -p "$work/wav$n"
    for i in $(seq "$n"); do cp "$work/one.wav" "$work/wav$n/$i.wav"; done
    measure "files to FLAC (convert -f flac)" "$n" "$cli" convert -f flac -r "$work/wav$n" -o "$work/out" --overwrite
done

# Tracks ripped (two-second tracks of a disc image, to WAV).
for n in 1 10 99; do
    rm -f "$images"/*
    tracks=()
    for _ in $(seq "$n"); do tracks+=(00:02:00,music); done
    "$build/bin/sondrel-mkdisc" -o "$images/disc.cue" "${tracks[@]}" >/dev/null
    measure "tracks ripped to WAV (rip -f wav)" "$n" "$cli" rip -f wav --lookup cache -o "$work/out"
done

# Discs in the cache (toc reads the disc's entry from cdinfo.dat).
rm -f "$images"/*
"$build/bin/sondrel-mkdisc" -o "$images/disc.cue" 300,tone 300,tone >/dev/null
key=$("$cli" toc | awk '/^disc-key/ {print $2}')
for n in 1 1000 100000; do
    python3 - "$data/cdinfo.dat" "$key" "$n" <<'PY'
import sys
path, key, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(path, 'w') as f:
    for n in range(count):
        k = key if n == count // 2 else str(1000000 + n)
        f.write('[%s]\nArtist=Artist %d\nAlbum=Album %d\nYear=1999\nGenre=12\nComment=\nTrackNumber=12\n' % (k, n, n))
        for t in range(1, 13):
            f.write('%d=Title number %d of disc %d\n' % (t, t, n))
PY
    measure "discs in the cache (toc)" "$n" "$cli" toc
done

# Files in a playlist (one-second WAVs; each file's length is read).
for n in 100 1000 10000; do
    mkdir -p "$work/list$n"
    for i in $(seq "$n"); do ln -f "$work/one.wav" "$work/list$n/$i.wav"; done
    measure "files in a playlist (playlist)" "$n" "$cli" playlist "$work/out/list.m3u" "$work/list$n"/*.wav --overwrite
done

# Files in one tag show (tagged FLACs).
flac -s -f -o "$work/tagged.flac" -T TITLE=Title -T ARTIST=Artist -T ALBUM=Album "$work/one.wav"
for n in 1 10 100 1000; do
    mkdir -p "$work/tags$n"
    for i in $(seq "$n"); do ln -f "$work/tagged.flac" "$work/tags$n/$i.flac"; done
    measure "files in one tag show" "$n" "$cli" tag show "$work/tags$n"/*.flac
done
