#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every tag of an audio file as the field's readers see it, for the tests to compare before and after an
edit: mutagen for MP3 (ID3), FLAC, Ogg Vorbis and Opus; ffprobe for WAV's RIFF INFO and WMA.

  tag_judge.py FILE    one JSON object: {"reader": ..., "tags": {key: [values]}, "pictures": [sha1...]}
  tag_judge.py --v1 FILE   the ID3 version 1 tag at the end of an MP3 file, as mutagen's frames

ID3 frames are keyed as mutagen keys them ("TIT2", "COMM:iTunNORM:eng", "APIC:"), binary data by its sha1.
Run with Debian's /usr/bin/python3 (python3-mutagen).
"""
import base64
import hashlib
import json
import subprocess
import sys

import mutagen
import mutagen.flac
import mutagen.id3


def sha1(data):
    return hashlib.sha1(bytes(data)).hexdigest()


def by_mutagen(path):
    f = mutagen.File(path)
    if f is None:
        return None
    tags = {}
    pictures = [sha1(p.data) for p in getattr(f, 'pictures', [])]
    if isinstance(f.tags, mutagen.id3.ID3):
        # The version 2 tag as it stands: mutagen would otherwise fold the version 1 tag's fields into it
        # (its comment as "COMM:ID3v1 Comment"), and that tag is judged apart.
        try:
            id3 = mutagen.id3.ID3(path, load_v1=False)
        except mutagen.id3.ID3NoHeaderError:
            id3 = f.tags
        for key, frame in id3.items():
            if hasattr(frame, 'data'):
                tags[key] = [sha1(frame.data)]
            elif key.startswith('TCON'):
                tags[key] = list(frame.genres)
            elif hasattr(frame, 'text'):
                text = frame.text
                tags[key] = [text] if isinstance(text, str) else [str(t) for t in text]
            else:
                tags[key] = [str(frame)]
    elif f.tags is not None:
        for key, values in f.tags.as_dict().items():
            if key.lower() == 'metadata_block_picture':  # Ogg's pictures: FLAC picture blocks in base64
                pictures += [sha1(mutagen.flac.Picture(base64.b64decode(v)).data) for v in values]
            else:
                tags[key.lower()] = [str(v) for v in values]
    return {'reader': 'mutagen', 'tags': tags, 'pictures': pictures}


def by_ffprobe(path):
    out = subprocess.run(['ffprobe', '-v', 'error', '-show_entries', 'format_tags', '-of', 'json', path],
                         check=True, capture_output=True, text=True).stdout
    tags = json.loads(out).get('format', {}).get('tags', {})
    return {'reader': 'ffprobe', 'tags': {k.lower(): [v] for k, v in tags.items()}, 'pictures': []}


def id3v1(path):
    with open(path, 'rb') as f:
        f.seek(-128, 2)
        frames = mutagen.id3.ParseID3v1(f.read(128)) or {}
    return {'reader': 'mutagen',
            'tags': {key: list(frame.genres) if key == 'TCON' else [str(t) for t in frame.text]
                     for key, frame in frames.items()}}


def main():
    if sys.argv[1] == '--v1':
        json.dump(id3v1(sys.argv[2]), sys.stdout)
        return
    path = sys.argv[1]
    with open(path, 'rb') as f:
        head = f.read(16)
    wav = head[:4] in (b'RIFF', b'RF64') and head[8:12] == b'WAVE'
    asf = head == bytes.fromhex('3026b2758e66cf11a6d900aa0062ce6c')
    result = by_ffprobe(path) if wav or asf else by_mutagen(path)
    json.dump(result, sys.stdout)


if __name__ == '__main__':
    main()
