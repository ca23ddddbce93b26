#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A cdrdao TOC file's layout as the field reads it, for the tests to hold ours against.

  toc_judge.py layout FILE.toc    one JSON object: "cdrdao" (the tracks' index 1 sectors, their pregaps and
                                  the lead-out from `cdrdao show-toc`) and "whipper" (its CDDB and
                                  MusicBrainz disc ids and lead-out from whipper's own TOC reader; null for a
                                  disc without audio, which whipper cannot name, or a TOC its reader does not
                                  take)
  toc_judge.py samples FILE.toc N the disc's first N sample frames as `cdrdao show-data` prints them, as a
                                  list of [left, right]

Run with Debian's /usr/bin/python3, where the whipper package lives.
"""
import json
import os
import re
import subprocess
import sys

import libdiscid.exceptions
from whipper.image import toc


def frames(msf):
    m, s, f = (int(x) for x in msf.split(':'))
    return (m * 60 + s) * 75 + f


def by_cdrdao(path):
    # cdrdao opens the files a TOC names from its working directory: the TOC's own folder.
    run = subprocess.run(['cdrdao', 'show-toc', os.path.basename(path)], capture_output=True, text=True,
                         cwd=os.path.dirname(os.path.abspath(path)))
    out = run.stdout
    starts, pregaps, leadout = [], [], None
    for line in out.splitlines():
        if re.match(r'\s*TRACK\s+\d+', line):
            pregaps.append(0)
        m = re.match(r'\s*(START|END|PREGAP)\s+(\d+:\d\d:\d\d)\(', line)
        if m and m.group(1) == 'START':
            starts.append(frames(m.group(2)))
        elif m and m.group(1) == 'PREGAP':
            pregaps[-1] = frames(m.group(2))
        elif m:
            leadout = frames(m.group(2))
    return {'starts': starts, 'pregaps': pregaps, 'leadout': leadout, 'said': run.stderr.strip()}


def samples(path, count):
    found = []
    with subprocess.Popen(['cdrdao', 'show-data', os.path.basename(path)], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True, cwd=os.path.dirname(os.path.abspath(path))) as process:
        for line in process.stdout:
            m = re.match(r'\s*\d+:\s+(-?\d+)\s+(-?\d+)', line)
            if m:
                found.append([int(m.group(1)), int(m.group(2))])
            if len(found) >= count:
                process.kill()
                break
    return found


def by_whipper(path):
    t = toc.TocFile(path)
    try:
        t.parse()
    except AttributeError:  # whipper's reader takes only what cdrdao's read-toc writes (no PREGAP first)
        return None
    if not any(track.audio for track in t.table.tracks):
        return None
    try:
        musicbrainz = t.table.getMusicBrainzDiscId()
    except libdiscid.exceptions.DiscError:  # a layout libdiscid refuses (a data track whipper misplaces)
        musicbrainz = None
    return {'cddb': t.table.getCDDBDiscId(), 'musicbrainz': musicbrainz, 'leadout': t.table.leadout}


def main():
    if len(sys.argv) == 3 and sys.argv[1] == 'layout':
        result = {'cdrdao': by_cdrdao(sys.argv[2]), 'whipper': by_whipper(sys.argv[2])}
    elif len(sys.argv) == 4 and sys.argv[1] == 'samples':
        result = samples(sys.argv[2], int(sys.argv[3]))
    else:
        sys.exit(__doc__)
    json.dump(result, sys.stdout)


if __name__ == '__main__':
    main()
