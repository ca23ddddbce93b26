#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The disc information cache: peak memory and time of `sondrel-cli toc` (which reads the disc's entry) with
# a cdinfo.dat of 100,000 discs beside one of a single disc; then the time of `sondrel-cli cddb`-style saves
# is left to the tests. The memory should not grow with the file.
source "$(dirname "$0")/lib.sh"
build_project
work=$(make_workdir)
trap 'rm -rf "$work"' EXIT
use_home "$work"
"$build/bin/sondrel-mkdisc" -o "$data/Disc images/disc.cue" 300,tone 300,tone >/dev/null
key=$("$build/bin/sondrel-cli" toc | awk '/^disc-key/ {print $2}')
entry() { printf '[%s]\nArtist=Artist %s\nAlbum=Album %s\nYear=1999\nGenre=12\nComment=\nTrackNumber=12\n' "$1" "$1" "$1"
          for t in $(seq 1 12); do printf '%s=Title number %s\n' "$t" "$t"; done; }
measure() { # prints "KB seconds" of the best of $runs runs
    for _ in $(seq "$runs"); do
        /usr/bin/time -f '%M %e' "$build/bin/sondrel-cli" toc 2>&1 >/dev/null | tail -1
    done | sort -n | head -1
}
entry "$key" > "$data/cdinfo.dat"
small=$(measure)
python3 - "$data/cdinfo.dat" "$key" <<'PY'
import sys
path, key = sys.argv[1], sys.argv[2]
with open(path, 'w') as f:
    for n in range(100000):
        k = key if n == 50000 else str(1000000 + n)
        f.write('[%s]\nArtist=Artist %d\nAlbum=Album %d\nYear=1999\nGenre=12\nComment=\nTrackNumber=12\n' % (k, n, n))
        for t in range(1, 13):
            f.write('%d=Title number %d of disc %d\n' % (t, t, n))
PY
large=$(measure)
echo "cdinfo.dat of $(du -h "$data/cdinfo.dat" | cut -f1): toc peak memory ${large% *} KB in ${large#* } s;" \
     "1 disc: ${small% *} KB in ${small#* } s; difference $(( (${large% *} - ${small% *}) / 1024 )) MB"
