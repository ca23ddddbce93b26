#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The longest time the job's thread (the window's, in the program) goes without handling its events while the
# drive component rips a 10-minute track to WAV, without and with normalising; the target is under 50 ms.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
"$build/bin/sondrel-mkdisc" -o "$work/disc.cue" 10:00:00,music
for mode in plain normalise; do
    extra=()
    [ "$mode" = normalise ] && extra=(normalise)
    gaps=()
    for _ in $(seq "$runs"); do
        rm -f "$work"/*.wav
        gaps+=("$("$build/bin/bench_uistall" "$work/disc.cue" "$work" "${extra[@]}")")
    done
    printf '%-40s longest stall (median of %d) %s ms\n' "10 min rip, $mode" "$runs" \
        "$(printf '%s\n' "${gaps[@]}" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')"
done
