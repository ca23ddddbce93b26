#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window's whole-disc rip beside the command-line tool's: the same 12-track disc image (about 12
# minutes) to MP3 with the same settings (two encoders at once), the window opened on the disc, every track
# checked and Extract pressed (bench_window, under the offscreen platform), against `sondrel-cli rip -f mp3`.
# Also the longest time the window's thread went without handling its events during the rip, and the time
# from the window's making to its disc shown.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home" QT_QPA_PLATFORM=offscreen
images="$work/home/Ombrel/Sondrel/Disc images"
mkdir -p "$images" "$work/home/Ombrel/Sondrel"
tracks=()
for i in $(seq 1 12); do tracks+=("01:0$((i % 10)):00,music"); done
"$build/bin/sondrel-mkdisc" -o "$images/disc.cue" "${tracks[@]}" >/dev/null
# Settings and data share one folder here (both XDG variables point at the work folder).
printf '[CommonOptions]\nOutputFormat=0\nOutputFolder=%s\nIsCDHandleZero=0\n' "$work/out" \
    >"$work/home/Ombrel/Sondrel/options.ini"
cli_times=() window_times=() stalls=() openings=()
for _ in $(seq "$runs"); do
    rm -rf "$work/out" && mkdir -p "$work/out"
    start=$(date +%s.%N)
    "$build/bin/sondrel-cli" rip -f mp3 -o "$work/out" --lookup cache >/dev/null 2>&1
    cli_times+=("$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')")
    [ "$(ls "$work/out"/*.mp3 | wc -l)" -eq 12 ] || { echo "the command-line rip made no 12 MP3s" >&2; exit 1; }
    rm -rf "$work/out" && mkdir -p "$work/out"
    # From Extract to the job window's end (the window's own start and the disc's loading left out).
    read -r seconds stall opening < <("$build/bin/bench_window" 2>/dev/null)
    window_times+=("$seconds")
    stalls+=("$stall")
    openings+=("$opening")
    [ "$(find "$work/out" -name '*.mp3' | wc -l)" -eq 12 ] || { echo "the window's rip made no 12 MP3s" >&2; exit 1; }
done
median() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
report "12-track disc to MP3, window" "$(median "${window_times[@]}")" "$(median "${cli_times[@]}")" "sondrel-cli"
echo "longest stall of the window's thread (median of $runs): $(median "${stalls[@]}") ms"
echo "from the window's making to its disc shown (median of $runs): $(median "${openings[@]}") ms"
