#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing Sondrel needs on Debian 12, by package name. Quick when
# everything is already there: only missing packages are installed.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    # Qt's own texts (dialog buttons) in the program's languages
    qt6-translations-l10n
    # tests
    googletest libgtest-dev libgmock-dev
    # running without a display, and screenshots
    xvfb xauth
    # a sound device that keeps real time without a sound card: a PulseAudio null sink behind ALSA
    pulseaudio pulseaudio-utils libasound2-plugins
    # CD access
    libcdio-dev libcdio-paranoia-dev cd-paranoia
    # audio
    libmpg123-dev libcurl4-openssl-dev libasound2-dev
    # tags, MusicBrainz disc ids, and the cover images' check
    libtag1-dev libdiscid-dev libjpeg-dev libpng-dev
    # FLAC and Opus output, the high-quality resampler, checksums
    libflac-dev libopusenc-dev libopusfile-dev libsoxr-dev zlib1g-dev libdeflate-dev
    # loudness (ReplayGain)
    libebur128-dev
    # the users' other tools, which the tests check our files against
    sox ffmpeg lame vorbis-tools flac shntool mpg123 cdrdao loudgain
    # the desktop's checkers of our desktop entry, metainfo and man pages
    desktop-file-utils appstream groff-base lintian dpkg-dev
    # the field's own implementations that the tests hold our results against (whipper's AccurateRip and
    # disc-id code with libdiscid, run by Debian's /usr/bin/python3; cd-info's reading of disc images)
    python3 whipper libcdio-utils
    # an independent Reed-Solomon encoder, which makes the recovery records the repair tests mend from
    libfec0
    # tag readers and writers of the field (files tagged by other programs, and the judges of ours)
    python3-mutagen eyed3 id3v2 kid3-cli opus-tools
    # Ogg Vorbis, WMA
    libvorbis-dev libogg-dev libavcodec-dev libavformat-dev libswresample-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
