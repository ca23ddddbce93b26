#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What the field computes for a disc image, for the tests to hold our results against.

  disc_judge.py disc IMAGE.cue      the table of contents as cd-info reads it, and from it whipper's
                                    AccurateRip ids and request path, CDDB, MusicBrainz and CUETools
                                    database disc ids
  disc_judge.py sums A.wav B.wav    whipper's AccurateRip v1 and v2 checksums of the tracks of one disc,
                                    in disc order (the first and last track counted as AccurateRip counts
                                    them)

One JSON object on standard output. Run with Debian's /usr/bin/python3, where the whipper package lives.
"""
import base64
import hashlib
import json
import re
import subprocess
import sys

import libdiscid
import libdiscid.exceptions
from whipper.common import accurip
from whipper.image import table


def disc(cue):
    info = subprocess.run(['cd-info', '--no-device-info', '--no-cddb', '--no-disc-mode', '--cue-file', cue],
                          check=True, capture_output=True, text=True).stdout
    tracks, leadout = [], None
    for line in info.splitlines():
        m = re.match(r'\s*(\d+): \d\d:\d\d:\d\d\s+(\d+) (audio|data|leadout)', line)
        if not m:
            continue
        number, lsn, kind = int(m.group(1)), int(m.group(2)), m.group(3)
        if kind == 'leadout':
            leadout = lsn
        else:
            tracks.append((number, lsn, kind == 'audio'))
    toc = table.Table()
    for i, (number, lsn, audio) in enumerate(tracks):
        # A data track after the audio is the second session of an enhanced CD. whipper's table counts
        # tracks from 1 (by their place on the disc), whatever the disc numbers them.
        last_data = not audio and i == len(tracks) - 1 and i > 0
        track = table.Track(i + 1, audio=audio, session=2 if last_data else 1)
        track.index(1, absolute=lsn)
        toc.tracks.append(track)
    toc.leadout = leadout
    ids = toc.accuraterip_ids()
    return {
        'tracks': [{'number': n, 'lsn': lsn, 'audio': a} for n, lsn, a in tracks],
        'leadout': leadout,
        'accuraterip_ids': list(ids),
        'accuraterip_path': toc.accuraterip_path(),
        'cddb': toc.getCDDBDiscId(),
        'cddb_offsets': list(toc.getCDDBValues().offsets),
        'musicbrainz': musicbrainz_id(tracks, leadout),
        'ctdb': ctdb_id(tracks, leadout),
    }


def ctdb_id(tracks, leadout):
    """The CUETools database's TOC id, step by step as its users' forum documents it: the audio session's
    track starts after the first and its end, less the first start, as 8 hex digits each, padded with zeros
    to 100 of them; SHA-1, base 64, then '+' '/' '=' written '.' '_' '-'."""
    audio = [lsn for _, lsn, a in tracks if a]
    after = [lsn for n, lsn, a in tracks if not a and lsn > audio[-1]]
    end = after[0] - 11400 if after else leadout
    if end <= audio[-1]:
        return None  # a data track with no gap between the sessions: the audio's end is not known
    text = ''.join('%08X' % (p - audio[0]) for p in audio[1:] + [end]).ljust(800, '0')
    digest = base64.b64encode(hashlib.sha1(text.encode('ascii')).digest()).decode('ascii')
    return digest.replace('+', '.').replace('/', '_').replace('=', '-')


def musicbrainz_id(tracks, leadout):
    """libdiscid's id of the audio session, with the disc's own track numbers; None where it has none."""
    audio = [(n, lsn) for n, lsn, a in tracks if a]
    after = [lsn for n, lsn, a in tracks if not a and lsn > audio[-1][1]]
    end = after[0] - 11400 if after else leadout
    try:
        # The offsets of tracks 1 to last, as libdiscid takes them: none before the first.
        offsets = [0] * (audio[0][0] - 1) + [lsn + 150 for _, lsn in audio]
        return libdiscid.put(audio[0][0], audio[-1][0], end + 150, offsets).id
    except libdiscid.exceptions.DiscError:
        return None


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == 'disc':
        result = disc(sys.argv[2])
    elif len(sys.argv) >= 3 and sys.argv[1] == 'sums':
        result = accurip.calculate_checksums(sys.argv[2:])
    else:
        sys.exit(__doc__)
    json.dump(result, sys.stdout)


if __name__ == '__main__':
    main()
