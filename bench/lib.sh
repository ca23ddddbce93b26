# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the benchmark scripts: build the project, and time commands.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
runs=${RUNS:-5}

# Work in memory where there is room, so that disk write-back does not blur the timings.
make_workdir() {
    if [ -d /dev/shm ] && [ "$(df --output=avail -k /dev/shm | tail -1)" -gt 4000000 ]; then
        mktemp -d /dev/shm/sondrel-bench.XXXXXX
    else
        mktemp -d
    fi
}

# SKIP_BUILD=1 times the build already in $build (BUILD_DIR) as it is.
build_project() {
    [ -n "${SKIP_BUILD:-}" ] && return 0
    "$root/scripts/setup.sh"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONDREL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 >/dev/null
}

# best_time OUTPUT CMD...: the median wall-clock time of $runs runs of CMD, in seconds; OUTPUT (the file
# the command writes) is removed before each run, so every run writes a new file.
best_time() {
    local output=$1
    shift
    local times=()
    for _ in $(seq "$runs"); do
        rm -f "$output"
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END { printf "%.3f\n", t[int((NR + 1) / 2)] }'
}

# report NAME OURS PEER PEERNAME
report() {
    printf '%-40s ours %7.3f s   %s %7.3f s   ratio %.2f\n' "$1" "$2" "$4" "$3" "$(awk -v a="$2" -v b="$3" 'BEGIN { print a / b }')"
}

# use_home WORK: the program's settings and data in WORK/home (both XDG folders), with $data its folder and
# $images the disc images' folder, made.
use_home() {
    export XDG_CONFIG_HOME="$1/home" XDG_DATA_HOME="$1/home"
    data="$1/home/Ombrel/Sondrel"
    images="$data/Disc images"
    mkdir -p "$images"
}
