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

# The command-line tool's rip of a 10-minute track, as a user runs it: plain, with the log and AccurateRip
# (the database out of reach on a closed local port, so only the checksums count), and through the paranoia
# reader with its peak memory; beside cd-paranoia -Z and cd-paranoia in full paranoia mode.
"$build/bin/sondrel-mkdisc" -o "$work/ten.cue" 10:00:00,music
export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home"
mkdir -p "$work/rip"
rip() { "$build/bin/sondrel-cli" rip -d "$work/ten.cue" -f wav -o "$work/rip" --lookup none --overwrite "$@"; }
peer=$(best_time "$work/peer.wav" cd-paranoia -d "$work/ten.cue" -Z -w 1 "$work/peer.wav")
ours=$(best_time "$work/rip/Track01.wav" rip)
report "10 min, rip -f wav" "$ours" "$peer" "cd-paranoia -Z"
ours=$(best_time "$work/rip/Track01.wav" rip --log --verify --accuraterip-server http://127.0.0.1:9/)
report "10 min, rip --log --verify" "$ours" "$peer" "cd-paranoia -Z"
peer=$(best_time "$work/peer.wav" cd-paranoia -d "$work/ten.cue" -w 1 "$work/peer.wav")
ours=$(best_time "$work/rip/Track01.wav" rip --paranoia)
report "10 min, rip --paranoia" "$ours" "$peer" "cd-paranoia"
rm -rf "$work/rip"/*
/usr/bin/time -o "$work/ours.mem" -f '%M' "$build/bin/sondrel-cli" rip -d "$work/ten.cue" -f wav -o "$work/rip" \
    --lookup none --overwrite --paranoia >/dev/null 2>&1
/usr/bin/time -o "$work/peer.mem" -f '%M' cd-paranoia -d "$work/ten.cue" -w 1 "$work/peer.wav" >/dev/null 2>&1
echo "10 min, rip --paranoia peak memory: ours $(($(tail -1 "$work/ours.mem") / 1024)) MB," \
    "cd-paranoia $(($(tail -1 "$work/peer.mem") / 1024)) MB"
