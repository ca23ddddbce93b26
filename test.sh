#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Sondrel with its tests in build/ and runs the whole suite.
#   --ci     also treat warnings as errors, and run the suite a second time under AddressSanitizer and
#            UndefinedBehaviorSanitizer (in build-asan/)
#   --quick  leave out the tests labelled slow (the installation and packaging checks); CI runs them all
set -euo pipefail
cd "$(dirname "$0")"
ci=0
quick=()
for arg in "$@"; do
    case "$arg" in
    --ci) ci=1 ;;
    --quick) quick=(-LE slow) ;;
    *) echo "usage: $0 [--ci] [--quick]" >&2; exit 2 ;;
    esac
done
scripts/setup.sh

export QT_QPA_PLATFORM=offscreen

if [ "$ci" -eq 1 ]; then
    echo "== Sanitizer build (build-asan/)"
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSONDREL_WERROR=ON -DSONDREL_SANITIZE=ON >/dev/null
    cmake --build build-asan -j2
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan -j2 --output-on-failure --timeout 600
    echo "== Build (build/)"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONDREL_WERROR=$([ "$ci" -eq 1 ] && echo ON || echo OFF) >/dev/null
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure --timeout 600 "${quick[@]}"
