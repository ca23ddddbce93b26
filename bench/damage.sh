#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A rip of a 10-minute track through the checking reader (--paranoia) from an image with 1 % flaky sectors
# (one sector in a hundred reads wrong every second time), beside the same rip of the clean image: what the
# re-reads of a weak disc cost. Both files must hold the clean audio.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
"$build/bin/sondrel-mkdisc" -o "$work/clean.cue" 10:00:00,music
flaky=$(seq -s, 50 100 44999)
"$build/bin/sondrel-mkdisc" -o "$work/weak.cue" --damage seed=1 --damage "flaky=$flaky" 10:00:00,music
export XDG_CONFIG_HOME="$work/home" XDG_DATA_HOME="$work/home"
mkdir -p "$work/clean" "$work/weak"
rip() { "$build/bin/sondrel-cli" rip -d "$work/$1.cue" -f wav -o "$work/$1" --lookup none --overwrite --paranoia; }
peer=$(best_time "$work/clean/Track01.wav" rip clean)
ours=$(best_time "$work/weak/Track01.wav" rip weak)
cmp "$work/clean/Track01.wav" "$work/weak/Track01.wav" && echo "same audio"
report "10 min, --paranoia, 1 % flaky sectors" "$ours" "$peer" "the clean image"
