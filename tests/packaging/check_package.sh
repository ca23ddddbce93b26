#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: made by cpack from the build, its files where Debian wants them, lintian without
# errors (not for a sanitizer build, whose programs are no release), and the programs run from the unpacked
# package.
set -euo pipefail
build=$1
sanitized=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$work"/sondrel_*.deb)
failed=0
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/sondrel ./usr/bin/sondrel-cli ./usr/libexec/sondrel/WM8EUTIL ./usr/share/sondrel/sondrel-manual.html \
    ./usr/share/applications/io.github.ombrel.Sondrel.desktop ./usr/share/metainfo/io.github.ombrel.Sondrel.metainfo.xml \
    ./usr/share/sondrel/CLan_English.ini ./usr/share/sondrel/CLan_German.ini \
    ./usr/share/man/man1/sondrel.1.gz ./usr/share/man/man1/sondrel-cli.1.gz \
    ./usr/share/bash-completion/completions/sondrel-cli ./usr/share/doc/sondrel/copyright \
    ./usr/share/doc/sondrel/changelog.gz; do
    grep -qxF "$file" <<<"$listing" || { echo "FAILED: $file not in the package"; failed=1; }
done
dpkg-deb -f "$deb" Depends | grep -q 'lame' || { echo "FAILED: the package does not depend on lame"; failed=1; }
if [ "$sanitized" != ON ] && command -v lintian >/dev/null; then
    status=0
    out=$(lintian --fail-on error "$deb" 2>&1) || status=$?
    if [ $status -ne 0 ]; then
        echo "FAILED: lintian: $out"
        failed=1
    fi
fi
dpkg-deb -x "$deb" "$work/root"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" QT_QPA_PLATFORM=offscreen
"$work/root/usr/bin/sondrel-cli" --version | grep -q '^sondrel-cli 5.6$' || { echo "FAILED: sondrel-cli from the package"; failed=1; }
[ "$("$work/root/usr/bin/sondrel" --manual-path)" = "$work/root/usr/share/sondrel/sondrel-manual.html" ] ||
    { echo "FAILED: sondrel from the package does not find its manual"; failed=1; }
exit $failed
