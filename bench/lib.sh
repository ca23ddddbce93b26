# Shared by the benchmark scripts: build the project, and time commands.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
runs=${RUNS:-3}

build_project() {
    "$root/scripts/setup.sh"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONDREL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j2 >/dev/null
}

# best_time CMD...: the fastest wall-clock time of $runs runs, in seconds.
best_time() {
    local best="" t
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    printf '%.3f\n' "$best"
}

# report NAME OURS PEER PEERNAME
report() {
    printf '%-40s ours %7.3f s   %s %7.3f s   ratio %.2f\n' "$1" "$2" "$4" "$3" "$(awk -v a="$2" -v b="$3" 'BEGIN { print a / b }')"
}
