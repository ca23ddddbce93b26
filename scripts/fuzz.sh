#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one fuzz target for a while: scripts/fuzz.sh NAME SECONDS (NAME: wav, id3, ini, cddb, encoder, ogg, musicbrainz, accuraterip, titles, cover, toc).
# Builds the libFuzzer programs with clang in build-fuzz/ (installing clang and its fuzzer runtime when
# missing). The seeds in fuzz/corpus/NAME are read; what the fuzzer finds new goes to build-fuzz/corpus/NAME,
# and an input that crashes it to build-fuzz/crashes/NAME/: once the fault is mended, copy that input into
# fuzz/corpus/NAME so the test suite replays it for good.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
    echo "usage: $0 NAME SECONDS   (NAME: wav id3 ini cddb encoder ogg musicbrainz accuraterip titles cover toc)" >&2
    exit 2
fi
name=$1
seconds=$2
scripts/setup.sh
missing=()
for p in clang libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONDREL_FUZZ=ON \
    -DSONDREL_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 --target "fuzz_$name"
mkdir -p "build-fuzz/corpus/$name" "build-fuzz/crashes/$name"
export QT_QPA_PLATFORM=offscreen
exec "build-fuzz/bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="build-fuzz/crashes/$name/" "build-fuzz/corpus/$name" "fuzz/corpus/$name"
